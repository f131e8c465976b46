#include "setup/runtime/runtime_detection.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <cwctype>

#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"

namespace {

constexpr wchar_t kRuntimeKey[] =
    L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App";
constexpr wchar_t kRuntimeFolderPattern[] = L"dotnet\\shared\\Microsoft.WindowsDesktop.App\\*";
constexpr DWORD kSubKeyNameBufferSize = 128;

bool HasMinusSign(const wchar_t* text) {
  while (std::iswspace(*text)) ++text;
  return *text == L'-';
}

bool IsInRegistry() {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRuntimeKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[kSubKeyNameBufferSize] = {};
    DWORD length = kSubKeyNameBufferSize;
    LONG result = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return false;
    // A name too long for the buffer (or any other failing index) is passed over.
    if (result == ERROR_SUCCESS && IsQualifyingVersionName(std::wstring(name, length))) {
      LogEvent(L"desktop runtime found in the registry: ", name);
      return true;
    }
  }
}

std::wstring ProgramFilesFolder() {
  std::wstring folder = ReadEnvironmentVariable(L"ProgramW6432");
  if (folder.empty()) folder = ReadEnvironmentVariable(L"ProgramFiles");
  return folder;
}

bool IsQualifyingEntry(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName[0] != L'.' &&
         IsQualifyingVersionName(entry.cFileName);
}

bool IsInProgramFiles() {
  std::wstring folder = ProgramFilesFolder();
  if (folder.empty()) return false;
  std::wstring pattern = JoinPath(folder, kRuntimeFolderPattern);
  WIN32_FIND_DATAW entry = {};
  UniqueFind find(FindFirstFileW(pattern.c_str(), &entry));
  if (!find) return false;
  do {
    if (IsQualifyingEntry(entry)) {
      LogEvent(L"desktop runtime found in \"", ParentPath(pattern), L"\": ", entry.cFileName);
      return true;
    }
  } while (FindNextFileW(find.get(), &entry));
  return false;
}

}  // namespace

bool IsQualifyingVersionName(const std::wstring& name) {
  const wchar_t* start = name.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  unsigned long value = std::wcstoul(start, &end, 10);
  if (end == start || errno == ERANGE || HasMinusSign(start)) return false;
  return value == 8 && *end == L'.';
}

bool IsDesktopRuntimeInstalled() { return IsInRegistry() || IsInProgramFiles(); }
