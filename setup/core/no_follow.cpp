#include "setup/core/no_follow.h"

#include <vector>

#include "setup/core/long_path.h"

namespace {

// FileDispositionInfoEx: declared only for newer SDK targets than ours. Windows 10 before
// 1607 refuses it; Wine 8 does too. Both then take the plain disposition.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring FinalPathOf(HANDLE handle) {
  std::vector<wchar_t> buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), DWORD(buffer.size()), FILE_NAME_NORMALIZED);
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.assign(length + 1, L'\0');
  }
  return {};
}

std::wstring ExpectedFinalPath(const std::wstring& path) {
  size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos || last + 1 >= path.size()) return {};
  std::wstring folder = path.substr(0, last);
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  UniqueFile parent(CreateFileW(LongPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!parent) return {};
  std::wstring final = FinalPathOf(parent.get());
  if (final.empty()) return {};
  if (final.back() != L'\\') final += L'\\';
  return final + path.substr(last + 1);
}

OpenOutcome OpenEntryItself(const std::wstring& path, const std::wstring& expectedFinal, DWORD access,
                            DWORD share, OpenedEntry& entry) {
  entry.handle.reset(CreateFileW(LongPath(path).c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry.handle) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OpenOutcome::kMissing
                                                                          : OpenOutcome::kFailed;
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(entry.handle.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
    entry.handle.reset();
    return OpenOutcome::kFailed;
  }
  entry.attributes = tag.FileAttributes;
  // The handle must name the entry asked for; otherwise a link was followed to it.
  const std::wstring final = FinalPathOf(entry.handle.get());
  if (expectedFinal.empty() || !EqualsIgnoreCase(final, expectedFinal)) {
    entry.handle.reset();
    return OpenOutcome::kNotItself;
  }
  return OpenOutcome::kOpened;
}

bool IsLink(const OpenedEntry& entry) { return (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool IsPlainDirectory(const OpenedEntry& entry) {
  return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(entry);
}

bool DeleteOpenedEntry(const OpenedEntry& entry) {
  HANDLE handle = entry.handle.get();
  FILE_DISPOSITION_INFO_EX modern = {kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
  if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &modern, sizeof(modern))) return true;
  if ((entry.attributes & FILE_ATTRIBUTE_READONLY) && !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    FILE_BASIC_INFO basic = {};  // zero times: left as they are
    const DWORD cleared = entry.attributes & ~FILE_ATTRIBUTE_READONLY;
    basic.FileAttributes = cleared ? cleared : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
  }
  FILE_DISPOSITION_INFO plain = {TRUE};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof(plain)) != FALSE;
}

bool DeleteEntryItself(const std::wstring& path, const std::wstring& expectedFinal) {
  OpenedEntry entry;
  switch (OpenEntryItself(path, expectedFinal, DELETE | FILE_WRITE_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, entry)) {
    case OpenOutcome::kOpened: return DeleteOpenedEntry(entry);
    case OpenOutcome::kMissing: return true;
    case OpenOutcome::kNotItself:
    case OpenOutcome::kFailed: break;
  }
  return false;
}

bool RemoveEmptyFolderItself(const std::wstring& path, const std::wstring& expectedFinal) {
  OpenedEntry entry;
  if (OpenEntryItself(path, expectedFinal, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, entry) !=
      OpenOutcome::kOpened) {
    return false;
  }
  return IsPlainDirectory(entry) && DeleteOpenedEntry(entry);
}
