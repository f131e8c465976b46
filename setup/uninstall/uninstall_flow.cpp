#include "setup/uninstall/uninstall_flow.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/language.h"
#include "setup/core/paths.h"
#include "setup/core/protected_folder.h"
#include "setup/core/text.h"
#include "setup/engine/running_app.h"
#include "setup/ui/dialogs.h"
#include "setup/uninstall/uninstall_worker.h"

namespace {

constexpr DWORD kModulePathBufferSize = 32768;

void ShowOutcome(bool removed) {
  TaskDialogContent content;
  if (removed) {
    content.mainInstruction = Tr(L"Velmora was removed", L"岫澜已卸载");
    content.content = Tr(L"Your license and recovered files were kept.", L"授权和已恢复文件均已保留。");
  } else {
    content.mainInstruction = Tr(L"Uninstall needs another attempt", L"卸载未能完全完成");
    content.content = Tr(L"Restart Windows, then run uninstall again.", L"请重启 Windows 后再次卸载。");
  }
  ShowTaskDialog(content);
}

}  // namespace

// A running program cannot delete its own file; the next restart does.
void ScheduleOwnDeletionIfTemporary() {
  const std::wstring own = GetOwnProgramPath();
  auto ownFolder = IdentifyFolderOf(own);
  auto temporaryFolder = IdentifyFolder(InstallerTempFolder());
  if (!ownFolder || !temporaryFolder || !IsSameFolder(*ownFolder, *temporaryFolder)) return;
  MoveFileExW(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

std::wstring GetOwnProgramPath() {
  std::vector<wchar_t> buffer(kModulePathBufferSize, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), kModulePathBufferSize);
  if (length == 0 || length >= kModulePathBufferSize) return {};
  return std::wstring(buffer.data(), length);
}

// A fresh name for every hand-off.
static std::wstring HandOffCopyName(std::uint32_t processId, std::uint64_t tickCount) {
  return L"Uninstall-" + DecimalText(processId) + L"-" + DecimalText(tickCount) + L".exe";
}

std::wstring WorkerCommandLine(const std::wstring& installFolder, bool quiet) {
  // Backslashes right before the closing quote would escape it when the copy splits
  // its command line: doubled, they read back as themselves.
  size_t lastOther = installFolder.find_last_not_of(L'\\');
  size_t trailing = lastOther == std::wstring::npos ? installFolder.size() : installFolder.size() - lastOther - 1;
  std::wstring line = L"/uninstall-worker /target \"" + installFolder + std::wstring(trailing, L'\\') + L"\"";
  if (quiet) line += L" /quiet";
  return line;
}

UninstallOutcome RunUninstallAndReport(const FolderIdentity& installFolder, bool quiet) {
  if (IsApplicationRunning(installFolder)) {
    LogEvent(L"uninstall refused: Velmora is running from \"", installFolder.path, L"\"");
    if (!quiet) ShowMessageDialog(Tr(L"Close Velmora before uninstalling.", L"请先关闭岫澜，再继续卸载。"));
    return UninstallOutcome::kApplicationRunning;
  }
  const bool removed = UninstallFromRecord(installFolder.path);
  LogEvent(removed ? L"uninstall complete: \"" : L"uninstall incomplete: \"", installFolder.path, L"\"");
  if (!quiet) ShowOutcome(removed);
  return removed ? UninstallOutcome::kRemoved : UninstallOutcome::kIncomplete;
}

bool HandOffUninstall(const FolderIdentity& installFolder, bool quiet) {
  const std::wstring temporaryFolder = InstallerTempFolder();
  HeldInstallerTemp held;  // until the copy has started
  if (!HoldProtectedInstallerTemp(temporaryFolder, held)) return false;
  const std::wstring copy = JoinPath(temporaryFolder, HandOffCopyName(GetCurrentProcessId(), GetTickCount64()));
  const std::wstring own = GetOwnProgramPath();
  // A file already there under the fresh name was put there by someone else: never reused.
  if (own.empty() || !CopyFileW(own.c_str(), copy.c_str(), TRUE)) return false;
  const std::wstring parameters = WorkerCommandLine(installFolder.path, quiet) + LogSwitchArgument();
  SHELLEXECUTEINFOW start = {};
  start.cbSize = sizeof(start);
  // No shell error box (quiet means no window; the exit code tells), and the program
  // ends right after the call.
  start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  start.lpFile = copy.c_str();
  start.lpParameters = parameters.c_str();
  start.nShow = quiet ? SW_HIDE : SW_SHOWNORMAL;
  LogEvent(L"hand-off: starting \"", copy, L"\" ", parameters);
  const BOOL started = ShellExecuteExW(&start);
  if (!started) LogEvent(L"hand-off failed: ", SystemError{GetLastError()});
  if (!started) return false;
  UniqueHandle process(start.hProcess);
  return true;
}
