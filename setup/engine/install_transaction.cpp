#include "setup/engine/install_transaction.h"

#include <vector>

#include "setup/core/existing_install.h"
#include "setup/core/folder_identity.h"
#include "setup/core/handles.h"
#include "setup/core/language.h"
#include "setup/core/paths.h"
#include "setup/core/progress.h"
#include "setup/core/protected_folder.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"
#include "setup/engine/installed_record.h"
#include "setup/engine/payload_extract.h"
#include "setup/engine/payload_manifest.h"
#include "setup/engine/registration.h"
#include "setup/engine/running_app.h"
#include "setup/engine/stranded_backup.h"
#include "setup/runtime/prerequisite.h"

namespace {

constexpr DWORD kRenameFlags = MOVEFILE_WRITE_THROUGH;

// What one run of the transaction knows and has done so far.
struct Transaction {
  FolderIdentity folder;
  std::wstring installFolder;  // folder.path
  const HWND* progressTarget = nullptr;
  std::wstring registeredVersion;
  bool isUpdate = false;
  // A fresh install into an existing empty folder removes that folder right before the
  // rename (a rename never replaces a folder) and must put it back on rollback.
  bool removedEmptyTarget = false;
  std::wstring stagingFolder;
  std::wstring backupFolder;
  std::vector<PayloadEntry> entries;
  std::wstring manifestText;
};

bool Fail(std::wstring& message, const wchar_t* english, const wchar_t* chinese) {
  message = Tr(english, chinese);
  return false;
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

// False also when the listing cannot start: only a folder seen to hold something counts.
bool HoldsAnyEntry(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
  if (!find) return false;
  do {
    if (!IsDotEntry(data.cFileName)) return true;
  } while (FindNextFileW(find.get(), &data));
  return false;
}

bool IsDirectoryLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One entry of DeleteTree's walk; links are removed only while nothing has failed.
void DeleteEntry(const std::wstring& path, DWORD attributes, bool& succeeded) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (!succeeded) return;
    succeeded = IsDirectoryLink(attributes) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (!DeleteTree(path)) succeeded = false;
  } else {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) succeeded = false;
  }
}

// Tries every entry; false only when the listing cannot start. An entry that stays
// clears succeeded.
bool DeleteEntries(const std::wstring& folder, bool& succeeded) {
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
  if (!find) return false;
  do {
    if (!IsDotEntry(data.cFileName)) DeleteEntry(JoinPath(folder, data.cFileName), data.dwFileAttributes, succeeded);
  } while (FindNextFileW(find.get(), &data));
  return true;
}

// Steps 3 and 4: the folder must be the registered one, free of a running application,
// or, on a fresh install, empty or absent.
bool CheckTargetFolder(const Transaction& t, const std::wstring& registeredLocation, std::wstring& message) {
  if (t.isUpdate) {
    auto registered = IdentifyFolder(registeredLocation);
    if (!registered || !IsSameFolder(*registered, t.folder)) {
      return Fail(message, L"Uninstall the existing copy before choosing another folder.",
                  L"如需更换安装位置，请先卸载现有版本。");
    }
    if (IsApplicationRunning(t.folder)) {
      return Fail(message, L"Close Velmora before updating.", L"请先关闭岫澜，再继续更新。");
    }
    return true;
  }
  if (IsExistingDirectory(t.installFolder) && HoldsAnyEntry(t.installFolder)) {
    return Fail(message, L"The selected folder is not empty. Choose another folder.",
                L"所选文件夹不是空文件夹，请选择其他位置。");
  }
  return true;
}

// Below the Program Files folders an installation inherits their protection; anywhere
// else it brings its own, or it would inherit what its parent grants.
bool NeedsOwnProtection(const FolderIdentity& folder) {
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramW6432", L"ProgramFiles(x86)"}) {
    auto programFiles = IdentifyFolder(ReadEnvironmentVariable(name));
    if (programFiles && IsInsideFolder(folder, *programFiles)) return false;
  }
  return true;
}

// The staging folder becomes the installation folder by a rename, keeping its DACL.
bool CreateStagingFolder(const Transaction& t) {
  if (!EnsureDirectory(ParentPath(t.stagingFolder))) return false;
  UniqueLocalMemory descriptor;
  SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
  if (NeedsOwnProtection(t.folder)) {
    if (!ParseSecurityDescriptor(kInstallFolderDacl, descriptor)) return false;
    security.lpSecurityDescriptor = descriptor.get();
  }
  return CreateDirectoryW(t.stagingFolder.c_str(), &security) != FALSE;
}

// Step 7.
bool PrepareStaging(Transaction& t, std::wstring& message) {
  t.stagingFolder = MakeWorkFolderPath(t.installFolder, L".staging");
  t.backupFolder = MakeWorkFolderPath(t.installFolder, L".backup");
  DeleteTree(t.stagingFolder);
  DeleteTree(t.backupFolder);
  if (!CreateStagingFolder(t)) {
    return Fail(message, L"The installation folder could not be prepared.", L"无法准备安装文件夹。");
  }
  return true;
}

// Steps 8 and 9: every file extracted and verified, then the record beside them.
bool StageFiles(const Transaction& t, std::wstring& message) {
  const size_t count = t.entries.size();
  for (size_t i = 0; i < count; ++i) {
    PostProgress(t.progressTarget, Tr(L"Verifying and installing program files", L"正在校验并安装程序文件"),
                 0.40 + 0.42 * static_cast<double>(i) / static_cast<double>(count));
    std::wstring target;
    if (!ResolveInsideFolder(t.stagingFolder, t.entries[i].relativePath, target) ||
        !ExtractPayloadFile(t.entries[i], target)) {
      DeleteTree(t.stagingFolder);
      return Fail(message, L"A packaged file failed verification.", L"安装包内的文件校验失败。");
    }
  }
  if (!WriteUtf8TextFile(JoinPath(t.stagingFolder, kInstalledRecordName), t.manifestText)) {
    DeleteTree(t.stagingFolder);
    return Fail(message, L"The uninstaller could not be prepared.", L"无法准备卸载程序。");
  }
  return true;
}

void RestoreEmptyTarget(const Transaction& t) {
  if (t.removedEmptyTarget) CreateDirectoryW(t.installFolder.c_str(), nullptr);
}

// Steps 10 and 11: the old installation aside, the staged one into its place.
bool SwapIntoPlace(Transaction& t, std::wstring& message) {
  if (t.isUpdate && !engineCalls.moveFile(t.installFolder.c_str(), t.backupFolder.c_str(), kRenameFlags)) {
    DeleteTree(t.stagingFolder);
    return Fail(message, L"The existing installation could not be replaced.", L"无法替换现有安装。");
  }
  if (!t.isUpdate && IsExistingDirectory(t.installFolder)) {
    t.removedEmptyTarget = engineCalls.removeDirectory(t.installFolder.c_str());
  }
  if (engineCalls.moveFile(t.stagingFolder.c_str(), t.installFolder.c_str(), kRenameFlags)) return true;
  if (t.isUpdate) engineCalls.moveFile(t.backupFolder.c_str(), t.installFolder.c_str(), kRenameFlags);
  RestoreEmptyTarget(t);
  DeleteTree(t.stagingFolder);
  return Fail(message, L"Installation was rolled back after a file error.", L"写入失败，安装已回滚。");
}

// The new package leaves its folder by a rename first: a file in it that cannot be
// deleted then ends up in a leftover work folder instead of keeping the old
// installation (or a new attempt) from getting the folder back.
void RemoveNewPackage(const Transaction& t) {
  const std::wstring aside = MakeWorkFolderPath(t.installFolder, L".staging");
  if (engineCalls.moveFile(t.installFolder.c_str(), aside.c_str(), kRenameFlags)) {
    DeleteTree(aside);
  } else {
    DeleteTree(t.installFolder);
  }
}

// Step 14: the new package out, the old state (or nothing) back.
bool RollBackRegistration(const Transaction& t, std::wstring& message) {
  RemoveShortcuts();
  RemoveNewPackage(t);
  if (t.isUpdate) {
    engineCalls.moveFile(t.backupFolder.c_str(), t.installFolder.c_str(), kRenameFlags);
    CreateShortcuts(t.installFolder);
    RegisterUninstallEntry(t.installFolder, t.registeredVersion.empty() ? kProductVersion : t.registeredVersion);
  } else {
    DeleteUninstallEntry();
    RestoreEmptyTarget(t);
  }
  return Fail(message, L"Installation was rolled back after registration failed.", L"注册失败，安装已回滚。");
}

}  // namespace

bool InstallPackage(const std::wstring& installFolder, const HWND* progressTarget, std::wstring& message) {
  auto folder = IdentifyFolder(installFolder);
  if (!folder || !IsSafeInstallFolder(folder->path)) {
    return Fail(message, L"Choose a full folder path that is not a drive root.",
                L"请选择不是磁盘根目录的完整文件夹路径。");
  }
  Transaction t;
  t.folder = *folder;
  t.installFolder = folder->path;
  t.progressTarget = progressTarget;
  const std::wstring registeredLocation = ReadUninstallValue(L"InstallLocation");
  t.registeredVersion = ReadUninstallValue(L"DisplayVersion");
  t.isUpdate = !registeredLocation.empty();
  // An earlier update that died mid-swap: its backup goes back before anything is checked.
  if (t.isUpdate) RestoreStrandedBackup(registeredLocation);
  if (!CheckTargetFolder(t, registeredLocation, message)) return false;
  if (!engineCalls.readPayloadManifest(t.entries, t.manifestText)) {
    return Fail(message, L"This setup package is incomplete.", L"当前安装包不完整。");
  }
  if (!EnsureDesktopRuntime(progressTarget, message)) return false;
  if (!PrepareStaging(t, message) || !StageFiles(t, message) || !SwapIntoPlace(t, message)) return false;
  if (!CreateShortcuts(t.installFolder) || !RegisterUninstallEntry(t.installFolder, kProductVersion)) {
    return RollBackRegistration(t, message);
  }
  PostProgress(progressTarget, Tr(L"Finishing installation", L"正在完成安装"), 0.94);
  if (t.isUpdate) DeleteTree(t.backupFolder);
  return true;
}

std::wstring MakeWorkFolderPath(const std::wstring& folder, const wchar_t* suffix) {
  return folder + suffix + L"-" + DecimalText(GetCurrentProcessId()) + L"-" + DecimalText(GetTickCount64());
}

bool DeleteTree(const std::wstring& folder) {
  if (!IsExistingDirectory(folder)) return true;
  bool succeeded = true;
  if (!DeleteEntries(folder, succeeded)) return false;
  if (!RemoveDirectoryW(folder.c_str())) return false;
  return succeeded;
}
