// Prints the texts of another process's visible dialog titled "Velmora" or "岫澜", one
// line per child window, in UTF-8 (exit 3 without one). Under Wine a task dialog is made
// of plain controls; Windows draws one without child windows.
#include <windows.h>

#include <cstdio>

namespace {

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  wchar_t text[4096];
  char bytes[3 * 4096];
  const int length = GetWindowTextW(child, text, 4096);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, sizeof(bytes), nullptr, nullptr);
  if (size > 0) std::printf("%.*s\n", size, bytes);
  return TRUE;
}

}  // namespace

int wmain() {
  HWND dialog = FindWindowW(L"#32770", L"Velmora");  // the class of dialog boxes and task dialogs
  if (!dialog) dialog = FindWindowW(L"#32770", L"岫澜");
  if (!dialog || !IsWindowVisible(dialog)) return 3;
  EnumChildWindows(dialog, PrintChild, 0);
  return 0;
}
