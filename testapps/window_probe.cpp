// Looks at the setup window from outside, by its class, as the tests need it:
//   window_probe state    exit 0 no window, 1 shown, 2 minimized
//   window_probe close    posts WM_CLOSE (exit 0), or exit 3 without a window
//   window_probe restore  restores a minimized window (exit 0), or exit 3
//   window_probe cover    shows a topmost window over the setup window's rectangle
//                         until it is closed or killed (exit 0), or exit 3
#include <windows.h>

#include <cwchar>

namespace {

LRESULT CALLBACK CoverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

int Cover(HWND setup) {
  RECT area{};
  GetWindowRect(setup, &area);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = CoverProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  windowClass.lpszClassName = L"VelmoraCover";
  RegisterClassW(&windowClass);
  HWND cover = CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"cover", WS_POPUP | WS_VISIBLE,
                               area.left - 10, area.top - 10, area.right - area.left + 20,
                               area.bottom - area.top + 20, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!cover) return 4;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

}  // namespace

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
  if (std::wcscmp(action, L"cover") == 0) return Cover(window);
  return 87;
}
