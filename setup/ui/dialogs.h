// The system dialogs: task dialogs in the program's common shape, and the folder picker.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

struct TaskDialogContent {
  const wchar_t* mainInstruction = nullptr;
  const wchar_t* content = nullptr;
  // Custom buttons (id, label); none means the common Close button alone.
  const TASKDIALOG_BUTTON* buttons = nullptr;
  UINT buttonCount = 0;
  int defaultButton = 0;
};

// Shows a modal task dialog: no owner, title "Velmora"/"岫澜", icon group 1.
// Returns the button pressed, or IDCANCEL when the dialog could not appear.
int ShowTaskDialog(const TaskDialogContent& content);
void ShowMessageDialog(const std::wstring& text);
// The uninstall confirmation; true only for "Uninstall".
bool ConfirmUninstall();
// The chosen folder joined with "Velmora", or empty when nothing was chosen.
std::wstring PickInstallFolder(HWND owner);
