// Prints the texts of another process's visible dialog titled "Velmora" or "岫澜", one
// line per child window, in UTF-8 (exit 3 without one). Under Wine a task dialog is made
// of plain controls; Windows draws one without child windows.
#include <windows.h>

#include <cwchar>

namespace {

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t title[16] = {};
  GetWindowTextW(window, title, 16);
  const bool match = IsWindowVisible(window) && (std::wcscmp(title, L"Velmora") == 0 || std::wcscmp(title, L"岫澜") == 0);
  if (match) *reinterpret_cast<HWND*>(found) = window;
  return !match;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  wchar_t text[4096];
  char bytes[3 * 4096 + 1];
  const int length = GetWindowTextW(child, text, 4096);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, sizeof(bytes) - 1, nullptr, nullptr);
  if (size <= 0) return TRUE;
  bytes[size] = '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, DWORD(size + 1), &written, nullptr);
  return TRUE;
}

}  // namespace

int wmain() {
  HWND dialog = nullptr;
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (!dialog) return 3;
  EnumChildWindows(dialog, PrintChild, 0);
  return 0;
}
