#include "setup/uninstall/uninstall_worker.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/installed_record.h"
#include "setup/engine/payload_manifest.h"
#include "setup/engine/registration.h"
#include "setup/engine/running_app.h"

namespace {

constexpr wchar_t kLauncherName[] = L"Uninstall.exe";
constexpr wchar_t kMaintenanceName[] = L"Velmora.Maintenance.exe";

// The whole record as text. An unreadable record and one that is not UTF-8 are
// refused alike: an undecodable record would otherwise count as an empty list, and
// the finishing steps would orphan every installed file.
bool ReadRecordText(const std::wstring& folder, std::wstring& text) {
  UniqueFile file(CreateFileW(JoinPath(folder, kInstalledRecordName).c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  if (size.QuadPart <= 0 || size.QuadPart > kMaxInstalledRecordBytes) return false;
  std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr) || read != bytes.size()) {
    return false;
  }
  file.reset();
  text = DecodeUtf8(bytes.data(), std::int32_t(bytes.size()));
  return !text.empty();
}

// The second tab-separated field; false when the line has no tab or nothing after it.
bool ReadRelativePath(const std::wstring& line, std::wstring& relative) {
  size_t firstTab = line.find(L'\t');
  if (firstTab == std::wstring::npos || firstTab + 1 >= line.size()) return false;
  size_t secondTab = line.find(L'\t', firstTab + 1);
  relative = line.substr(firstTab + 1, secondTab == std::wstring::npos ? std::wstring::npos
                                                                       : secondTab - firstTab - 1);
  return true;
}

// Every folder strictly between the installation folder and the file.
void CollectEnclosingFolders(const std::wstring& root, const std::wstring& file,
                             std::vector<std::wstring>& folders) {
  for (std::wstring folder = ParentPath(file); folder.size() > root.size(); folder = ParentPath(folder)) {
    folders.push_back(folder);
  }
}

// A path that is missing or a directory is not an error; a file that stays is.
// Attributes are reset only when one of them would stand in the way: under Wine every
// reset rewrites an extended attribute, which doubled the time of a whole uninstall.
bool DeleteListedFile(const std::wstring& path) {
  constexpr DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (attributes & kInTheWay) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str()) != FALSE;
}

// The programs that start another attempt: deleted only once every other listed file
// is gone, so that after a failed attempt the registered uninstall command still runs.
struct RetryPrograms {
  bool maintenanceListed = false;
  bool launcherListed = false;
};

bool RemoveListedEntry(const std::wstring& root, const std::wstring& line, std::vector<std::wstring>& folders,
                       RetryPrograms& held) {
  std::wstring relative;
  std::wstring path;
  if (!ReadRelativePath(line, relative) || !IsValidRelativePath(relative) ||
      !ResolveInsideFolder(root, relative, path)) {
    LogEvent(L"record line refused: ", line);
    return false;
  }
  if (EqualsIgnoreAsciiCase(path, JoinPath(root, kMaintenanceName))) {
    held.maintenanceListed = true;
    return true;
  }
  if (EqualsIgnoreAsciiCase(path, JoinPath(root, kLauncherName))) {
    held.launcherListed = true;
    return true;
  }
  bool deleted = DeleteListedFile(path);
  if (!deleted) LogEvent(L"file \"", relative, L"\" stays: ", SystemError{GetLastError()});
  CollectEnclosingFolders(root, path, folders);
  return deleted;
}

bool RemoveListedFiles(const std::wstring& root, const std::wstring& text, std::vector<std::wstring>& folders,
                       RetryPrograms& held) {
  bool complete = true;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    if (!RemoveListedEntry(root, text.substr(start, end - start), folders, held)) complete = false;
    start = end + 1;
  }
  return complete;
}

// Deepest first, so that a folder is emptied of its empty children before it is tried.
// RemoveDirectoryW takes only empty folders: anything the record does not list keeps
// its folder, and failures are expected.
void RemoveEmptiedFolders(std::vector<std::wstring>& folders) {
  std::sort(folders.begin(), folders.end(), [](const std::wstring& a, const std::wstring& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const auto& folder : folders) RemoveDirectoryW(folder.c_str());
  folders.clear();
}

bool DeleteIfFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  return DeleteFileW(path.c_str()) != FALSE;
}

// Only after every listed file is gone: from here on the product stops being listed.
bool FinishRemoval(const std::wstring& root, const RetryPrograms& held) {
  if (held.maintenanceListed && !DeleteListedFile(JoinPath(root, kMaintenanceName))) return false;
  if (!DeleteIfFile(JoinPath(root, kInstalledRecordName))) return false;
  const std::wstring launcher = JoinPath(root, kLauncherName);
  if (!(held.launcherListed ? DeleteListedFile(launcher) : DeleteIfFile(launcher))) return false;
  RemoveShortcuts();
  RemoveDirectoryW(root.c_str());
  RemoveUpdateCache();
  return DeleteUninstallEntry();
}

}  // namespace

bool UninstallFromRecord(const std::wstring& installFolder) {
  if (!IsSafeInstallFolder(installFolder)) return false;
  // One spelling of the folder for every path built and compared below.
  const std::wstring root = NormalizeFolderPath(installFolder);
  std::wstring text;
  if (root.empty() || !ReadRecordText(root, text)) {
    LogEvent(L"record of \"", installFolder, L"\" not readable");
    return false;
  }
  std::vector<std::wstring> folders;
  RetryPrograms held;
  bool complete = RemoveListedFiles(root, text, folders, held);
  RemoveEmptiedFolders(folders);
  return complete && FinishRemoval(root, held);
}
