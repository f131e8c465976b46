#include "setup/engine/stranded_backup.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "setup/core/handles.h"
#include "setup/core/long_path.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"
#include "setup/engine/installed_record.h"

namespace {

constexpr wchar_t kBackupInfix[] = L".backup-";

bool IsDecimal(std::wstring_view text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

// "<pid>-<tick>", as the transaction names its work folders.
bool IsWorkFolderTail(std::wstring_view tail) {
  const size_t dash = tail.find(L'-');
  return dash != std::wstring_view::npos && IsDecimal(tail.substr(0, dash)) && IsDecimal(tail.substr(dash + 1));
}

bool HoldsRecord(const std::wstring& folder) {
  const DWORD attributes = GetFileAttributesW(LongPath(JoinPath(folder, kInstalledRecordName)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// "<folder><infix><pid>-<tick>" siblings of the installation folder that are real
// folders, not links.
std::vector<std::wstring> WorkFolders(const std::wstring& installFolder, const wchar_t* infix) {
  std::vector<std::wstring> found;
  const std::wstring pattern = installFolder + infix + L"*";
  const size_t leafLength = installFolder.size() - ParentPath(installFolder).size() - 1;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(LongPath(pattern).c_str(), &data));
  if (!find) return found;
  do {
    const std::wstring_view name = data.cFileName;
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const size_t tailStart = leafLength + wcslen(infix);
    if (!isFolder || name.size() <= tailStart || !IsWorkFolderTail(name.substr(tailStart))) continue;
    found.push_back(JoinPath(ParentPath(installFolder), data.cFileName));
  } while (FindNextFileW(find.get(), &data));
  return found;
}

// Backup folders of this installation folder that hold a record.
std::vector<std::wstring> BackupCandidates(const std::wstring& installFolder) {
  std::vector<std::wstring> found = WorkFolders(installFolder, kBackupInfix);
  found.erase(std::remove_if(found.begin(), found.end(), [](const std::wstring& f) { return !HoldsRecord(f); }),
              found.end());
  return found;
}

}  // namespace

bool RestoreStrandedBackup(const std::wstring& installFolder) {
  if (!IsSafeInstallFolder(installFolder)) return false;
  if (GetFileAttributesW(LongPath(installFolder).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  const std::vector<std::wstring> candidates = BackupCandidates(installFolder);
  if (candidates.size() != 1) return false;
  return engineCalls.moveFile(LongPath(candidates.front()).c_str(), LongPath(installFolder).c_str(),
                              MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::vector<std::wstring> StaleStagingFolders(const std::wstring& installFolder) {
  return WorkFolders(installFolder, L".staging-");
}

std::vector<std::wstring> StaleBackupFolders(const std::wstring& installFolder) {
  return WorkFolders(installFolder, kBackupInfix);
}
