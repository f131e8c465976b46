// Looks at the setup window from outside, by its class, as the tests need it:
//   window_probe state    exit 0 no window, 1 shown, 2 minimized
//   window_probe close    posts WM_CLOSE (exit 0), or exit 3 without a window
//   window_probe restore  restores a minimized window (exit 0), or exit 3
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
  return 87;
}
