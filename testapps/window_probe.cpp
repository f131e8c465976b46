// Looks at the setup's windows from outside. "texts" prints the texts of the visible dialog
// titled "Velmora" or "岫澜", one line per child window, in UTF-8 (under Wine a task dialog
// is made of plain controls; Windows draws one without child windows). The rest find the
// setup window by its class: "state" exits 0 no window, 1 shown, 2 minimized; "restore"
// restores it, "cover" shows a topmost window over it until killed. Each exits 0, or 3
// without its window.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const wchar_t* action = argc > 1 ? argv[1] : L"state";
  if (std::wcscmp(action, L"texts") == 0) {
    HWND dialog = FindWindowW(L"#32770", L"Velmora");  // the class of dialog boxes and task dialogs
    if (!dialog) dialog = FindWindowW(L"#32770", L"岫澜");
    if (!dialog || !IsWindowVisible(dialog)) return 3;
    EnumChildWindows(dialog, [](HWND child, LPARAM) -> BOOL {
      wchar_t text[4096];
      char bytes[3 * 4096];
      const int length = GetWindowTextW(child, text, 4096);
      const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, sizeof(bytes), nullptr, nullptr);
      if (size > 0) std::printf("%.*s\n", size, bytes);
      return TRUE;
    }, 0);
    return 0;
  }
  HWND window = FindWindowW(L"VMR.ModernInstaller.Window", nullptr);
  if (std::wcscmp(action, L"state") == 0) return !window ? 0 : IsIconic(window) ? 2 : 1;
  if (!window) return 3;
  if (std::wcscmp(action, L"restore") == 0) {
    ShowWindow(window, SW_RESTORE);
    return 0;
  }
  if (std::wcscmp(action, L"cover") != 0) return 87;
  RECT area{};
  GetWindowRect(window, &area);
  if (!CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"cover", WS_POPUP | WS_VISIBLE, area.left - 10, area.top - 10,
                       area.right - area.left + 20, area.bottom - area.top + 20, nullptr, nullptr, nullptr, nullptr)) {
    return 4;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
