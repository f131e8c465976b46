#include "setup/uninstall/uninstall_worker.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "setup/core/existing_install.h"
#include "setup/core/folder_identity.h"
#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/no_follow.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/installed_record.h"
#include "setup/engine/payload_manifest.h"
#include "setup/engine/registration.h"
#include "setup/engine/running_app.h"

namespace {

constexpr wchar_t kLauncherName[] = L"Uninstall.exe";
constexpr wchar_t kMaintenanceName[] = L"Velmora.Maintenance.exe";

// The installation folder as given and as the system names it once opened. Every entry
// below is opened as itself and must carry the system's name for it: a link anywhere
// on the way, there from the start or swapped in later, fails that check.
struct Root {
  std::wstring path;
  std::wstring finalPath;
};

std::wstring ExpectedFinal(const Root& root, const std::wstring& path) {
  if (path.size() < root.path.size() || !StartsWithIgnoreAsciiCase(path, root.path)) return {};
  return root.finalPath + path.substr(root.path.size());
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

// A path that is missing or a plain folder is not an error; a file that stays is. A
// link is removed as itself; where the system cannot open it as itself (Wine, for Unix
// symlinks) it stays, and so does the installation, rather than lose its target.
bool DeleteListedFile(const Root& root, const std::wstring& path) {
  const std::wstring expectedFinal = ExpectedFinal(root, path);
  switch (DeleteFileItself(path, expectedFinal)) {
    case FileDeletion::kDeleted:
    case FileDeletion::kMissing: return true;
    case FileDeletion::kFailed: return false;
    case FileDeletion::kNotAFile: break;
  }
  OpenedEntry entry;
  switch (OpenEntryItself(path, expectedFinal, DELETE | FILE_WRITE_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, entry)) {
    case OpenOutcome::kMissing: return true;
    case OpenOutcome::kOpened: break;
    case OpenOutcome::kNotItself:
    case OpenOutcome::kFailed: return false;
  }
  return IsPlainDirectory(entry) || DeleteOpenedEntry(entry);
}

// The programs that start another attempt: deleted only once every other listed file
// is gone, so that after a failed attempt the registered uninstall command still runs.
struct RetryPrograms {
  bool maintenanceListed = false;
  bool launcherListed = false;
};

bool RemoveListedEntry(const Root& root, const std::wstring& line, std::vector<std::wstring>& folders,
                       RetryPrograms& held) {
  std::wstring relative;
  std::wstring path;
  if (!ReadRelativePath(line, relative) || !IsValidRelativePath(relative) ||
      !ResolveInsideFolder(root.path, relative, path)) {
    LogEvent(L"record line refused: ", line);
    return false;
  }
  if (EqualsIgnoreAsciiCase(path, JoinPath(root.path, kMaintenanceName))) {
    held.maintenanceListed = true;
    return true;
  }
  if (EqualsIgnoreAsciiCase(path, JoinPath(root.path, kLauncherName))) {
    held.launcherListed = true;
    return true;
  }
  bool deleted = DeleteListedFile(root, path);
  if (!deleted) LogEvent(L"file \"", relative, L"\" stays: ", SystemError{GetLastError()});
  CollectEnclosingFolders(root.path, path, folders);
  return deleted;
}

bool RemoveListedFiles(const Root& root, const std::wstring& text, std::vector<std::wstring>& folders,
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
// Only empty plain folders go: anything the record does not list keeps its folder, and
// failures are expected.
void RemoveEmptiedFolders(const Root& root, std::vector<std::wstring>& folders) {
  std::sort(folders.begin(), folders.end(), [](const std::wstring& a, const std::wstring& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const auto& folder : folders) RemoveEmptyFolderItself(folder, ExpectedFinal(root, folder));
  folders.clear();
}

// Only after every listed file is gone: from here on the product stops being listed.
bool FinishRemoval(const Root& root, const RetryPrograms& held) {
  if (held.maintenanceListed && !DeleteListedFile(root, JoinPath(root.path, kMaintenanceName))) return false;
  if (!DeleteListedFile(root, JoinPath(root.path, kInstalledRecordName))) return false;
  if (!DeleteListedFile(root, JoinPath(root.path, kLauncherName))) return false;
  RemoveShortcuts();
  RemoveEmptyFolderItself(root.path, root.finalPath);
  RemoveUpdateCache();
  return DeleteUninstallEntry();
}

// The registered folder is gone (deleted by hand): what still points at it goes, so
// that the programs list and a new install no longer meet a dead installation.
bool ForgetMissingInstallation() {
  RemoveShortcuts();
  RemoveUpdateCache();
  return DeleteUninstallEntry();
}

}  // namespace

bool UninstallFromRecord(const std::wstring& installFolder) {
  // One spelling of the folder for every path built and compared below.
  auto identity = IdentifyFolder(installFolder);
  if (!identity || !IsSafeInstallFolder(identity->path)) return false;
  if (IsMissingFolder(identity->path)) {
    auto registered = IdentifyFolder(ReadUninstallValue(L"InstallLocation"));
    if (registered && IsSameFolder(*registered, *identity)) return ForgetMissingInstallation();
  }
  Root root{identity->path, {}};
  {
    OpenedEntry folder;
    if (OpenEntryItself(root.path, ExpectedFinalPath(root.path), 0,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, folder) != OpenOutcome::kOpened ||
        !IsPlainDirectory(folder)) {
      return false;
    }
    root.finalPath = FinalPathOf(folder.handle.get());
  }
  std::wstring text;
  if (root.finalPath.empty() || !ReadInstalledRecord(root.path, text)) {
    LogEvent(L"record of \"", root.path, L"\" not readable");
    return false;
  }
  std::vector<std::wstring> folders;
  RetryPrograms held;
  bool complete = RemoveListedFiles(root, text, folders, held);
  RemoveEmptiedFolders(root, folders);
  return complete && FinishRemoval(root, held);
}
