#include "setup/engine/install_transaction.h"

#include <vector>

#include "setup/core/existing_install.h"
#include "setup/core/folder_identity.h"
#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/language.h"
#include "setup/core/long_path.h"
#include "setup/core/no_follow.h"
#include "setup/core/paths.h"
#include "setup/core/progress.h"
#include "setup/core/protected_folder.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"
#include "setup/engine/installed_record.h"
#include "setup/engine/payload_extract.h"
#include "setup/engine/payload_manifest.h"
#include "setup/engine/readback_verifier.h"
#include "setup/engine/registration.h"
#include "setup/engine/running_app.h"
#include "setup/engine/stranded_backup.h"
#include "setup/runtime/prerequisite.h"

namespace {

constexpr DWORD kRenameFlags = MOVEFILE_WRITE_THROUGH;

constexpr BilingualText kUnsafeFolder{L"Choose a full folder path that is not a drive root.",
                                      L"请选择不是磁盘根目录的完整文件夹路径。"};
constexpr BilingualText kOtherThanRegistered{L"Uninstall the existing copy before choosing another folder.",
                                             L"如需更换安装位置，请先卸载现有版本。"};
constexpr BilingualText kNotEmpty{L"The selected folder is not empty. Choose another folder.",
                                  L"所选文件夹不是空文件夹，请选择其他位置。"};

// What one run of the transaction knows and has done so far.
struct Transaction {
  FolderIdentity folder;
  std::wstring installFolder;  // folder.path
  const HWND* progressTarget = nullptr;
  std::wstring registeredVersion;
  // Update: an installation of ours is in the folder and moves aside as the backup.
  bool isUpdate = false;
  // Whether the folder was registered; an unregistered one is a fresh install that died
  // before its registration was complete.
  bool wasRegistered = false;
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
  LogEvent(L"install failed, message stored: ", message);
  return false;
}

bool Fail(std::wstring& message, const BilingualText& text) { return Fail(message, text.english, text.chinese); }

// Renames never replace what is at the target.
bool Rename(const std::wstring& from, const std::wstring& to) {
  return engineCalls.moveFile(LongPath(from).c_str(), LongPath(to).c_str(), kRenameFlags) != FALSE;
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

// False also when the listing cannot start: only a folder seen to hold something counts.
bool HoldsAnyEntry(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(LongPath(JoinPath(folder, L"*")).c_str(), &data));
  if (!find) return false;
  do {
    if (!IsDotEntry(data.cFileName)) return true;
  } while (FindNextFileW(find.get(), &data));
  return false;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder being emptied is held without delete sharing: it cannot be renamed, or
// replaced by a link, while the walk works inside it.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The names in an open folder, "." and ".." left out; false when it cannot be listed.
bool ListFolder(HANDLE folder, std::vector<std::wstring>& names) {
  std::vector<LONGLONG> buffer(8192);  // 64 KiB, aligned for the records
  FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, kind, buffer.data(), DWORD(buffer.size() * sizeof(LONGLONG)))) {
    kind = FileFullDirectoryInfo;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (size_t offset = 0;;) {
      const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + offset);
      std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (!IsDotEntry(name.c_str())) names.push_back(std::move(name));
      if (info->NextEntryOffset == 0) break;
      offset += info->NextEntryOffset;
    }
  }
  return GetLastError() == ERROR_NO_MORE_FILES;
}

bool DeleteTreeItself(const std::wstring& folder, const std::wstring& expectedFinal);

// One entry of DeleteTree's walk; links are removed only while nothing has failed.
void DeleteEntry(const std::wstring& path, const std::wstring& expectedFinal, bool& succeeded) {
  if (succeeded) {
    switch (DeleteFileItself(path, expectedFinal)) {
      case FileDeletion::kDeleted:
      case FileDeletion::kMissing: return;
      case FileDeletion::kFailed: succeeded = false; return;
      case FileDeletion::kNotAFile: break;
    }
  }
  OpenedEntry entry;
  switch (OpenEntryItself(path, expectedFinal, DELETE | FILE_WRITE_ATTRIBUTES, kShareAll, entry)) {
    case OpenOutcome::kMissing: return;
    case OpenOutcome::kOpened: break;
    case OpenOutcome::kNotItself:
    case OpenOutcome::kFailed: succeeded = false; return;
  }
  if (IsLink(entry)) {
    if (succeeded) succeeded = DeleteOpenedEntry(entry);
  } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
    entry.handle.reset();
    if (!DeleteTreeItself(path, expectedFinal)) succeeded = false;
  } else if (!DeleteOpenedEntry(entry)) {
    succeeded = false;
  }
}

// Every entry is tried; an entry that stays makes the result false.
bool DeleteTreeItself(const std::wstring& folder, const std::wstring& expectedFinal) {
  OpenedEntry held;
  switch (OpenEntryItself(folder, expectedFinal, DELETE | FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAllButDelete,
                          held)) {
    case OpenOutcome::kMissing: return true;
    case OpenOutcome::kOpened: break;
    case OpenOutcome::kNotItself:
    case OpenOutcome::kFailed: return false;
  }
  if (!(held.attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (IsLink(held)) return DeleteOpenedEntry(held);
  std::vector<std::wstring> names;
  const std::wstring heldFinal = FinalPathOf(held.handle.get());
  if (heldFinal.empty() || !ListFolder(held.handle.get(), names)) return false;
  bool succeeded = true;
  for (const std::wstring& name : names) DeleteEntry(JoinPath(folder, name), JoinPath(heldFinal, name), succeeded);
  return DeleteOpenedEntry(held) && succeeded;
}

bool IsApplicationClosed(const Transaction& t, std::wstring& message) {
  if (!IsApplicationRunning(t.folder)) return true;
  return Fail(message, L"Close Velmora before updating.", L"请先关闭岫澜，再继续更新。");
}

// Steps 3 and 4: the folder must be the registered one, free of a running application,
// or, on a fresh install, empty or absent. Decides between a fresh install and an update.
bool CheckTargetFolder(Transaction& t, const std::wstring& registeredLocation, std::wstring& message) {
  if (t.wasRegistered) {
    auto registered = IdentifyFolder(registeredLocation);
    if (!registered || !IsSameFolder(*registered, t.folder)) return Fail(message, kOtherThanRegistered);
    // An earlier update that died mid-swap: its backup goes back before the folder is
    // looked at. Only now, so that a refusal above still means nothing changed.
    RestoreStrandedBackup(t.installFolder);
    // A registered folder deleted by hand is installed afresh and registered again.
    t.isUpdate = !IsMissingFolder(t.installFolder);
    return !t.isUpdate || IsApplicationClosed(t, message);
  }
  if (IsExistingDirectory(t.installFolder) && HoldsAnyEntry(t.installFolder)) {
    // A fresh install of ours killed before its registration was complete: repaired.
    if (!HoldsInstalledRecord(t.installFolder)) {
      return Fail(message, kNotEmpty);
    }
    t.isUpdate = true;
    return IsApplicationClosed(t, message);
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
  return CreateDirectoryW(LongPath(t.stagingFolder).c_str(), &security) != FALSE;
}

// Step 7.
bool PrepareStaging(Transaction& t, std::wstring& message) {
  // A killed run's staging folder would otherwise stay beside the folder for good.
  for (const std::wstring& stale : StaleStagingFolders(t.installFolder)) DeleteTree(stale);
  // So would an update's backup once a later swap completed; while the folder is missing
  // a backup may be all that is left of the installation, and stays.
  if (t.isUpdate) {
    for (const std::wstring& stale : StaleBackupFolders(t.installFolder)) DeleteTree(stale);
  }
  t.stagingFolder = MakeWorkFolderPath(t.installFolder, L".staging");
  t.backupFolder = MakeWorkFolderPath(t.installFolder, L".backup");
  // Both names must be new. An entry already there (planted beside a folder that others
  // can write to, perhaps a link) fails the step and is never emptied or used; the
  // backup name is taken only by step 10's rename, which never replaces an entry.
  if (!CreateStagingFolder(t)) {
    LogEvent(L"staging folder \"", t.stagingFolder, L"\" could not be created: ", SystemError{GetLastError()});
    return Fail(message, L"The installation folder could not be prepared.", L"无法准备安装文件夹。");
  }
  return true;
}

// Steps 8 and 9: every file extracted and verified, then the record beside them.
// File i is read back while file i+1 is written; progress for i files is posted once
// the files before it passed.
bool StageFiles(const Transaction& t, std::wstring& message) {
  const size_t count = t.entries.size();
  StagingTree tree;
  ReadbackVerifier verifier;
  ProgressPacer pacer;
  bool staged = MakeStagingTree(t.stagingFolder, tree) && StartReadbackVerifier(verifier);
  for (size_t i = 0; staged && i < count; ++i) {
    const PayloadEntry& entry = t.entries[i];
    ReadbackCheck check{{}, entry};
    staged = StagePayloadFile(entry, tree, check.path) && CollectReadback(verifier);
    if (!staged) break;
    PostProgressPaced(t.progressTarget, pacer, Tr(L"Verifying and installing program files", L"正在校验并安装程序文件"),
                      0.40 + 0.42 * static_cast<double>(i) / static_cast<double>(count));
    staged = SubmitReadback(verifier, std::move(check));
  }
  staged = staged && CollectReadback(verifier);
  StopReadbackVerifier(verifier);
  if (!staged) {
    LogEvent(L"rollback: removing the staging folder \"", t.stagingFolder, L"\"");
    DeleteTree(t.stagingFolder);
    return Fail(message, L"A packaged file failed verification.", L"安装包内的文件校验失败。");
  }
  LogEvent(L"staged and verified ", count, L" files in \"", t.stagingFolder, L"\"");
  if (!WriteUtf8TextFile(JoinPath(t.stagingFolder, kInstalledRecordName), t.manifestText)) {
    LogEvent(L"record not written: ", SystemError{GetLastError()});
    LogEvent(L"rollback: removing the staging folder \"", t.stagingFolder, L"\"");
    DeleteTree(t.stagingFolder);
    return Fail(message, L"The uninstaller could not be prepared.", L"无法准备卸载程序。");
  }
  return true;
}

void RestoreEmptyTarget(const Transaction& t) {
  if (t.removedEmptyTarget) LogEvent(L"rollback: re-creating the empty folder \"", t.installFolder, L"\"");
  if (t.removedEmptyTarget) CreateDirectoryW(LongPath(t.installFolder).c_str(), nullptr);
}

// Steps 10 and 11: the old installation aside, the staged one into its place.
bool SwapIntoPlace(Transaction& t, std::wstring& message) {
  if (t.isUpdate) LogEvent(L"swap: moving \"", t.installFolder, L"\" aside to \"", t.backupFolder, L"\"");
  if (t.isUpdate && !Rename(t.installFolder, t.backupFolder)) {
    LogEvent(L"swap failed: ", SystemError{GetLastError()});
    LogEvent(L"rollback: removing the staging folder \"", t.stagingFolder, L"\"");
    DeleteTree(t.stagingFolder);
    return Fail(message, L"The existing installation could not be replaced.", L"无法替换现有安装。");
  }
  if (!t.isUpdate && IsExistingDirectory(t.installFolder)) {
    t.removedEmptyTarget = engineCalls.removeDirectory(LongPath(t.installFolder).c_str());
  }
  LogEvent(L"swap: renaming \"", t.stagingFolder, L"\" to \"", t.installFolder, L"\"");
  if (Rename(t.stagingFolder, t.installFolder)) return true;
  LogEvent(L"swap failed: ", SystemError{GetLastError()});
  if (t.isUpdate) LogEvent(L"rollback: moving the backup \"", t.backupFolder, L"\" back");
  if (t.isUpdate) Rename(t.backupFolder, t.installFolder);
  RestoreEmptyTarget(t);
  LogEvent(L"rollback: removing the staging folder \"", t.stagingFolder, L"\"");
  DeleteTree(t.stagingFolder);
  return Fail(message, L"Installation was rolled back after a file error.", L"写入失败，安装已回滚。");
}

// The new package leaves its folder by a rename first: a file in it that cannot be
// deleted then ends up in a leftover work folder instead of keeping the old
// installation (or a new attempt) from getting the folder back.
void RemoveNewPackage(const Transaction& t) {
  LogEvent(L"rollback: removing the new files from \"", t.installFolder, L"\"");
  const std::wstring aside = MakeWorkFolderPath(t.installFolder, L".staging");
  if (Rename(t.installFolder, aside)) {
    DeleteTree(aside);
  } else {
    DeleteTree(t.installFolder);
  }
}

// Step 14: the new package out, the old state (or nothing) back.
bool RollBackRegistration(const Transaction& t, std::wstring& message) {
  LogEvent(L"rollback: removing the shortcuts");
  RemoveShortcuts();
  RemoveNewPackage(t);
  if (t.isUpdate) {
    LogEvent(L"rollback: moving the backup \"", t.backupFolder, L"\" back");
    Rename(t.backupFolder, t.installFolder);
  }
  if (t.isUpdate && t.wasRegistered) {
    LogEvent(L"rollback: shortcuts and registration as before");
    CreateShortcuts(t.installFolder);
    RegisterUninstallEntry(t.installFolder, t.registeredVersion.empty() ? kProductVersion : t.registeredVersion);
  } else {
    LogEvent(L"rollback: deleting the uninstall entry");
    DeleteUninstallEntry();
    RestoreEmptyTarget(t);
  }
  return Fail(message, L"Installation was rolled back after registration failed.", L"注册失败，安装已回滚。");
}

}  // namespace

bool InstallPackage(const std::wstring& installFolder, const HWND* progressTarget, std::wstring& message) {
  auto folder = IdentifyFolder(installFolder);
  if (!folder || !IsSafeInstallFolder(folder->path)) {
    return Fail(message, kUnsafeFolder);
  }
  Transaction t;
  t.folder = *folder;
  t.installFolder = folder->path;
  t.progressTarget = progressTarget;
  const std::wstring registeredLocation = ReadUninstallValue(L"InstallLocation");
  t.registeredVersion = ReadUninstallValue(L"DisplayVersion");
  t.wasRegistered = !registeredLocation.empty();
  if (!CheckTargetFolder(t, registeredLocation, message)) return false;
  LogEvent(L"install into \"", t.installFolder,
           t.isUpdate ? L"\", replacing the installation there" : L"\", fresh");
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
  LogEvent(L"installed ", kProductVersion, L" into \"", installFolder, L"\"");
  return true;
}

bool IsFolderRefusal(const std::wstring& message) {
  for (const BilingualText& text : {kUnsafeFolder, kOtherThanRegistered, kNotEmpty}) {
    if (message == text.english || message == text.chinese) return true;
  }
  return false;
}

std::wstring MakeWorkFolderPath(const std::wstring& folder, const wchar_t* suffix) {
  return folder + suffix + L"-" + DecimalText(GetCurrentProcessId()) + L"-" + DecimalText(GetTickCount64());
}

bool DeleteTree(const std::wstring& folder) { return DeleteTreeItself(folder, ExpectedFinalPath(folder)); }
