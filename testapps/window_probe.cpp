// Looks at the setup window from outside, by its class: "state" exits 0 no window,
// 1 shown, 2 minimized; "close" posts WM_CLOSE, "restore" restores it, "cover" shows a
// topmost window over it until killed (each exits 0, or 3 without a window).
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  HWND window = FindWindowW(L"VMR.ModernInstaller.Window", nullptr);
  const wchar_t* action = argc > 1 ? argv[1] : L"state";
  if (std::wcscmp(action, L"state") == 0) return !window ? 0 : IsIconic(window) ? 2 : 1;
  if (!window) return 3;
  if (std::wcscmp(action, L"close") == 0) return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 4;
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
