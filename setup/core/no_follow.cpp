#include "setup/core/no_follow.h"

#include <atomic>
#include <vector>

#include "setup/core/long_path.h"

namespace {

// FileDispositionInfoEx: declared only for newer SDK targets than ours. Windows 10 before
// 1607 refuses it; Wine 8 does too. Both then take the plain disposition.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

// Set once the system has refused FileDispositionInfoEx as such: asking again for
// every entry would cost each one a wasted call.
std::atomic<bool> dispositionExRefused{false};

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsUnsupportedClass(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

bool SetPlainDisposition(HANDLE handle) {
  FILE_DISPOSITION_INFO plain = {TRUE};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof(plain)) != FALSE;
}

// Only a file the system refused to delete has its attributes read; a read-only one
// loses that attribute and is tried once more.
bool ClearReadOnlyAndDelete(HANDLE handle) {
  const DWORD refusal = GetLastError();
  FILE_BASIC_INFO basic = {};
  if (refusal != ERROR_ACCESS_DENIED || !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
      !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY) || (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(refusal);
    return false;
  }
  const DWORD cleared = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
  basic = {};  // zero times: left as they are
  basic.FileAttributes = cleared ? cleared : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) && SetPlainDisposition(handle);
}

bool DeleteByHandle(HANDLE handle) {
  if (!dispositionExRefused.load(std::memory_order_relaxed)) {
    FILE_DISPOSITION_INFO_EX modern = {kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &modern, sizeof(modern))) return true;
    if (IsUnsupportedClass(GetLastError())) dispositionExRefused.store(true, std::memory_order_relaxed);
  }
  return SetPlainDisposition(handle) || ClearReadOnlyAndDelete(handle);
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

bool DeleteOpenedEntry(const OpenedEntry& entry) { return DeleteByHandle(entry.handle.get()); }

FileDeletion DeleteFileItself(const std::wstring& path, const std::wstring& expectedFinal) {
  // Without backup semantics no folder opens, and a link opens as itself.
  UniqueFile file(CreateFileW(LongPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    switch (GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND: return FileDeletion::kMissing;
      case ERROR_ACCESS_DENIED: return FileDeletion::kNotAFile;  // or a file it may not open: told apart there
      default: return FileDeletion::kFailed;
    }
  }
  // As in OpenEntryItself: a handle that does not carry the name asked for came
  // through a link, and nothing is deleted through it.
  if (expectedFinal.empty() || !EqualsIgnoreCase(FinalPathOf(file.get()), expectedFinal)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return FileDeletion::kFailed;
  }
  return DeleteByHandle(file.get()) ? FileDeletion::kDeleted : FileDeletion::kFailed;
}

bool RemoveEmptyFolderItself(const std::wstring& path, const std::wstring& expectedFinal) {
  OpenedEntry entry;
  if (OpenEntryItself(path, expectedFinal, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, entry) !=
      OpenOutcome::kOpened) {
    return false;
  }
  return IsPlainDirectory(entry) && DeleteOpenedEntry(entry);
}
