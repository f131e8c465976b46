#include "setup/ui/dialogs.h"

#include <commctrl.h>
#include <shobjidl.h>

#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/language.h"
#include "setup/core/paths.h"

namespace {

constexpr int kUninstallButtonId = 100;

}  // namespace

int ShowTaskDialog(const TaskDialogContent& content) {
  TASKDIALOGCONFIG config = {};
  config.cbSize = sizeof(config);
  config.hInstance = GetModuleHandleW(nullptr);
  config.dwFlags = TDF_POSITION_RELATIVE_TO_WINDOW | TDF_SIZE_TO_CONTENT;
  config.pszWindowTitle = Tr(kProductName);
  config.pszMainIcon = MAKEINTRESOURCEW(1);
  config.pszMainInstruction = content.mainInstruction;
  config.pszContent = content.content;
  config.pButtons = content.buttons;
  config.cButtons = content.buttonCount;
  config.nDefaultButton = content.defaultButton;
  if (content.buttonCount == 0) config.dwCommonButtons = TDCBF_CLOSE_BUTTON;
  int pressed = IDCANCEL;
  LogEvent(L"message shown: ", content.mainInstruction ? content.mainInstruction : L"", L" / ",
           content.content ? content.content : L"");
  TaskDialogIndirect(&config, &pressed, nullptr, nullptr);
  LogEvent(L"message answered with button ", pressed);
  return pressed;
}

void ShowMessageDialog(const std::wstring& text) {
  TaskDialogContent content;
  content.mainInstruction = Tr(L"The operation could not finish", L"操作未能完成");
  content.content = text.c_str();
  ShowTaskDialog(content);
}

bool ConfirmUninstall() {
  const TASKDIALOG_BUTTON buttons[] = {
      {kUninstallButtonId, Tr(L"Uninstall", L"卸载")},
      {IDCANCEL, Tr(L"Cancel", L"取消")},
  };
  TaskDialogContent content;
  content.mainInstruction = Tr(L"Uninstall Velmora?", L"卸载岫澜？");
  content.content = Tr(
      L"The program will be removed. Your license, settings, recovered files, and unfinished "
      L"recovery data will be kept.",
      L"将删除程序文件；授权、设置、已恢复文件和未完成恢复数据都会保留。");
  content.buttons = buttons;
  content.buttonCount = 2;
  content.defaultButton = kUninstallButtonId;
  return ShowTaskDialog(content) == kUninstallButtonId;
}

std::wstring PickInstallFolder(HWND owner) {
  ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              dialog.put_void()))) {
    return {};
  }
  FILEOPENDIALOGOPTIONS options = 0;
  if (FAILED(dialog->GetOptions(&options))) options = 0;
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(Tr(L"Choose where to install Velmora", L"选择岫澜安装位置"));
  if (FAILED(dialog->Show(owner))) return {};
  ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(item.put()))) return {};
  PWSTR path = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return {};
  UniqueCoTaskMemory owner_of_path(path);
  return JoinPath(path, L"Velmora");
}
