#include "setup/ui/setup_window.h"

#include <dwmapi.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <memory>
#include <new>

#include "setup/core/environment.h"
#include "setup/core/language.h"
#include "setup/core/paths.h"
#include "setup/core/progress.h"
#include "setup/engine/install_transaction.h"
#include "setup/ui/dialogs.h"
#include "setup/ui/layout.h"
#include "setup/ui/logo.h"

namespace {

constexpr wchar_t kWindowClass[] = L"VMR.ModernInstaller.Window";
constexpr UINT_PTR kFrameTimer = 1;
constexpr ULONGLONG kStillClock = 3500;  // where the backdrop stands when motion is off
constexpr DWORD kWindowCornerPreference = 33;  // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD kRoundCorners = 2;             // DWMWCP_ROUND
constexpr int kFinishedPostAttempts = 200;

void RegisterWindowClass(HINSTANCE module) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = SetupWindowProc;
  windowClass.hInstance = module;
  windowClass.hIcon = LoadIconW(module, MAKEINTRESOURCEW(1));
  windowClass.hIconSm = LoadIconW(module, MAKEINTRESOURCEW(1));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);
}

// A frame starts no sooner than `delay` after the last one ended. What the user does
// shows at once; otherwise the timer first asks whether the frame would be seen.
void ScheduleFrame(SetupWindow& w, ULONGLONG delay, bool userAction) {
  const ULONGLONG now = GetTickCount64(), due = w.pacing.lastEnd + delay;
  if (userAction && due <= now) {
    KillTimer(w.hwnd, kFrameTimer);
    InvalidateRect(w.hwnd, nullptr, FALSE);
  } else {
    SetTimer(w.hwnd, kFrameTimer, due > now ? static_cast<UINT>(due - now) : USER_TIMER_MINIMUM, nullptr);
  }
}

// Something on the page changed: its layer is redrawn in the next frame. Progress
// while installing keeps to the animation's CPU budget, so that drawing does not slow
// the install down.
void Invalidate(SetupWindow& w) {
  w.renderer.pageStale = true;
  if (IsIconic(w.hwnd)) return;
  const bool working = w.state == UiState::Working;
  ScheduleFrame(w, working ? AnimationDelay(w.pacing) : kFrameInterval, !working);
}

void ReadMotionSetting(SetupWindow& w) {
  BOOL animate = TRUE;
  w.stillBackdrop = SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animate, 0) && !animate;
}

void EndWindow(SetupWindow& w, unsigned exitCode) {
  w.exitCode = exitCode;
  DestroyWindow(w.hwnd);
}

// Close button, Escape and WM_CLOSE: nothing may end the window while the worker runs.
void ApplyCloseRule(SetupWindow& w) {
  switch (w.state) {
    case UiState::Ready:
      DestroyWindow(w.hwnd);
      return;
    case UiState::Working:
      return;
    case UiState::Completed:
      EndWindow(w, 0);
      return;
    default:
      EndWindow(w, 2);
  }
}

void SwitchLanguage(SetupWindow& w, bool english) {
  if (english == UseEnglish) return;
  UseEnglish = english;
  SetWindowTextW(w.hwnd, Tr(kProductName));
  if (w.renderer.dwriteFactory) CreateTextFormats(w);
  Invalidate(w);
}

void ChangeFolder(SetupWindow& w) {
  std::wstring chosen = PickInstallFolder(w.hwnd);
  if (!chosen.empty()) w.installFolder = chosen;
  Invalidate(w);
}

void OpenApplication(SetupWindow& w) {
  const std::wstring program = JoinPath(w.installFolder, L"Velmora.exe");
  ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, w.installFolder.c_str(), SW_SHOWNORMAL);
  EndWindow(w, 0);
}

// "Try again": the same install again, unless the folder itself was refused; then the
// Ready page, where another folder can be chosen.
void TryAgain(SetupWindow& w) {
  if (!w.folderRefused) return StartInstall(w);
  w.state = UiState::Ready;
  w.errorText.clear();
  w.folderRefused = false;
  Invalidate(w);
}

void HandleKey(SetupWindow& w, WPARAM key) {
  switch (key) {
    case VK_ESCAPE:
      return ApplyCloseRule(w);
    case VK_TAB:
      w.focus = NextFocus(w.state, IsFolderPinned(w), FocusedControl(w), GetKeyState(VK_SHIFT) < 0);
      return Invalidate(w);
    case VK_SPACE:
      return Activate(w, FocusedControl(w));
    case VK_RETURN: {
      const HitTarget focused = FocusedControl(w);
      return Activate(w, focused != HitTarget::None ? focused : PrimaryTarget(w.state));
    }
    default:
      return;
  }
}

void TrackPointer(SetupWindow& w, float x, float y) {
  w.pointerX = x;
  w.pointerY = y;
  if (!w.trackingLeave && x >= 0) {
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, w.hwnd, 0};
    w.trackingLeave = TrackMouseEvent(&track) != FALSE;
  }
  const HitTarget hovered = x < 0 ? HitTarget::None : HitTest(w.state, IsFolderPinned(w), x, y);
  if (hovered == w.hovered) return;
  w.hovered = hovered;
  Invalidate(w);
}

void OnTimer(SetupWindow& w) {
  KillTimer(w.hwnd, kFrameTimer);
  if (IsIconic(w.hwnd)) return;  // restoring starts the frames again
  if (IsWindowHidden(w.hwnd)) {
    SetTimer(w.hwnd, kFrameTimer, kHiddenCheckInterval, nullptr);
    return;
  }
  InvalidateRect(w.hwnd, nullptr, FALSE);
}

void OnSize(SetupWindow& w, WPARAM kind, LPARAM lParam) {
  if (kind == SIZE_MINIMIZED) {
    KillTimer(w.hwnd, kFrameTimer);
    return;
  }
  ResizeRenderTarget(w.renderer, LOWORD(lParam), HIWORD(lParam));
  Invalidate(w);
}

LRESULT CaptionHitTest(SetupWindow& w, LPARAM lParam) {
  POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ScreenToClient(w.hwnd, &point);
  const float x = point.x / w.dpiScale, y = point.y / w.dpiScale;
  return y < kCaptionHeight && x < kCaptionRight ? HTCAPTION : HTCLIENT;
}

void RedrawWhileMoving(SetupWindow& w) {
  const ULONGLONG now = GetTickCount64();
  if (now - w.lastMoveRedraw < kFrameInterval) return;
  w.lastMoveRedraw = now;
  RedrawWindow(w.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_NOERASE | RDW_UPDATENOW);
}

void TakeProgress(SetupWindow& w, LPARAM lParam) {
  std::unique_ptr<ProgressUpdate> update(reinterpret_cast<ProgressUpdate*>(lParam));
  if (!update) return;
  w.statusText = update->text;
  w.progress = update->fraction;
  Invalidate(w);
}

void TakeFinished(SetupWindow& w, WPARAM succeeded, LPARAM lParam) {
  std::unique_ptr<std::wstring> failure(reinterpret_cast<std::wstring*>(lParam));
  if (succeeded) {
    w.state = UiState::Completed;
    w.progress = 1.0;
  } else {
    w.state = UiState::Failed;
    w.errorText = failure ? *failure : std::wstring();
    w.folderRefused = IsFolderRefusal(w.errorText);
  }
  Invalidate(w);
}

void Paint(SetupWindow& w) {
  PAINTSTRUCT paint;
  BeginPaint(w.hwnd, &paint);
  const double cpu = ProcessCpuMilliseconds();
  PaintWindow(w, w.stillBackdrop ? kStillClock : GetTickCount64());
  RecordFrame(w.pacing, ProcessCpuMilliseconds() - cpu, GetTickCount64());
  EndPaint(w.hwnd, &paint);
  if (!w.stillBackdrop) ScheduleFrame(w, AnimationDelay(w.pacing), false);
}

// The window stays in Working, where closing is refused, until this message arrives,
// so a full queue must not lose it: it is retried while the window exists.
void PostFinished(HWND target, bool succeeded, const std::wstring& failure) {
  std::wstring* text = new (std::nothrow) std::wstring(succeeded ? std::wstring() : failure);
  for (int attempt = 1;; ++attempt) {
    if (PostMessageW(target, FinishedMessage, succeeded ? 1 : 0, reinterpret_cast<LPARAM>(text))) return;
    if (attempt >= kFinishedPostAttempts || !IsWindow(target)) break;
    Sleep(50);
  }
  delete text;
}

}  // namespace

SetupWindow::SetupWindow(const WindowStartState& start)
    : installFolder(start.installFolder), isUpdate(start.isUpdate), isRepair(start.isRepair) {}

SetupWindow::~SetupWindow() {
  titleFormat.reset();
  headingFormat.reset();
  bodyFormat.reset();
  smallFormat.reset();
  buttonFormat.reset();
  DropRenderTarget(*this);
  renderer.dwriteFactory.reset();
  renderer.d2dFactory.reset();
}

bool CreateSetupWindow(SetupWindow& w, HINSTANCE module) {
  RegisterWindowClass(module);
  // Centred on the work area and never larger: on a small screen at a high DPI the
  // canvas is scaled down so that every control stays reachable.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor)) work = monitor.rcWork;
  const int workWidth = std::max(1L, work.right - work.left), workHeight = std::max(1L, work.bottom - work.top);
  w.dpiScale = std::min({static_cast<float>(SystemDpi()) / 96.0f, workWidth / kCanvasWidth,
                         workHeight / kCanvasHeight});
  w.renderer.dpi = 96.0f * w.dpiScale;
  const int width = std::min(workWidth, static_cast<int>(kCanvasWidth * w.dpiScale));
  const int height = std::min(workHeight, static_cast<int>(kCanvasHeight * w.dpiScale));
  const int x = work.left + (workWidth - width) / 2;
  const int y = work.top + (workHeight - height) / 2;
  HWND hwnd = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, Tr(kProductName), WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                              x, y, width, height, nullptr, nullptr, module, &w);
  if (!hwnd) return false;
  w.renderer.hwnd = hwnd;
  w.renderer.module = module;
  ReadMotionSetting(w);
  bool ready = w.renderer.d2dFactory || SUCCEEDED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED,
                                                                    __uuidof(ID2D1Factory), nullptr,
                                                                    w.renderer.d2dFactory.put_void()));
  ready = ready && (w.renderer.dwriteFactory ||
                    SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                                  reinterpret_cast<IUnknown**>(w.renderer.dwriteFactory.put()))));
  ready = ready && EnsureRenderTarget(w.renderer) && CreateTextFormats(w);
  if (ready) w.logoBitmap = LoadLogo(w.renderer.renderTarget.get(), module);
  if (!ready || !w.logoBitmap) {
    DestroyWindow(hwnd);
    return false;
  }
  DwmSetWindowAttribute(hwnd, kWindowCornerPreference, &kRoundCorners, sizeof(kRoundCorners));
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  return true;
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int RunSetupWindow(SetupWindow& window, HINSTANCE module) {
  if (!CreateSetupWindow(window, module)) return 4;
  RunMessageLoop();
  return static_cast<int>(window.exitCode);
}

int RunSetupWindow(const WindowStartState& start, HINSTANCE module) {
  SetupWindow window(start);
  return RunSetupWindow(window, module);
}

LRESULT CALLBACK SetupWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* window = static_cast<SetupWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (window) {
      window->hwnd = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
  }
  auto* window = reinterpret_cast<SetupWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
  return HandleWindowMessage(*window, message, wParam, lParam);
}

LRESULT HandleWindowMessage(SetupWindow& w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      KillTimer(w.hwnd, kFrameTimer);
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      OnSize(w, wParam, lParam);
      return 0;
    case WM_PAINT:
      Paint(w);
      return 0;
    case WM_CLOSE:
      ApplyCloseRule(w);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCHITTEST:
      return CaptionHitTest(w, lParam);
    case WM_KEYDOWN:
      HandleKey(w, wParam);
      return 0;
    case WM_TIMER:
      OnTimer(w);
      return 0;
    case WM_MOUSEMOVE:
      TrackPointer(w, GET_X_LPARAM(lParam) / w.dpiScale, GET_Y_LPARAM(lParam) / w.dpiScale);
      return 0;
    case WM_MOUSELEAVE:
      w.trackingLeave = false;
      TrackPointer(w, -1, -1);
      return 0;
    case WM_SETTINGCHANGE:
      if (wParam == SPI_SETCLIENTAREAANIMATION) {
        ReadMotionSetting(w);
        Invalidate(w);
      }
      return DefWindowProcW(w.hwnd, message, wParam, lParam);
    case WM_LBUTTONUP:
      HandleClick(w, GET_X_LPARAM(lParam) / w.dpiScale, GET_Y_LPARAM(lParam) / w.dpiScale);
      return 0;
    case WM_MOVING:
      RedrawWhileMoving(w);
      return 0;
    case ProgressMessage:
      TakeProgress(w, lParam);
      return 0;
    case FinishedMessage:
      TakeFinished(w, wParam, lParam);
      return 0;
    default:
      return DefWindowProcW(w.hwnd, message, wParam, lParam);
  }
}

void HandleClick(SetupWindow& w, float x, float y) { Activate(w, HitTest(w.state, IsFolderPinned(w), x, y)); }

void Activate(SetupWindow& w, HitTarget target) {
  switch (target) {
    case HitTarget::ChooseChinese:
      return SwitchLanguage(w, false);
    case HitTarget::ChooseEnglish:
      return SwitchLanguage(w, true);
    case HitTarget::ToggleLanguage:
      if (w.state != UiState::Working) SwitchLanguage(w, !UseEnglish);
      return;
    case HitTarget::Close:
      return ApplyCloseRule(w);
    case HitTarget::Minimize:
      ShowWindow(w.hwnd, SW_MINIMIZE);
      return;
    case HitTarget::ChangeFolder:
      return ChangeFolder(w);
    case HitTarget::StartInstall:
      return w.state == UiState::Failed ? TryAgain(w) : StartInstall(w);
    case HitTarget::OpenApplication:
      return OpenApplication(w);
    case HitTarget::Finish:
      return EndWindow(w, 0);
    case HitTarget::CloseFailed:
      return EndWindow(w, 2);
    case HitTarget::None:
      return;
  }
}

HitTarget FocusedControl(const SetupWindow& w) {
  FocusStop stops[kMaxFocusStops];
  const int count = FocusStops(w.state, IsFolderPinned(w), stops);
  for (int i = 0; i < count; ++i) {
    if (stops[i].target == w.focus) return w.focus;
  }
  return HitTarget::None;
}

void StartInstall(SetupWindow& w) {
  if (w.state == UiState::Working) return;
  w.state = UiState::Working;
  w.progress = 0.04;
  w.statusText = Tr(L"Preparing installation", L"正在准备安装");
  w.errorText.clear();
  Invalidate(w);
  UniqueHandle thread(CreateThread(nullptr, 0, InstallWorker, &w, 0, nullptr));
  if (!thread) {
    w.state = UiState::Failed;
    w.errorText = Tr(L"Installation could not start. Try again.", L"安装未能启动，请重试。");
  }
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
  ComApartment apartment(COINIT_MULTITHREADED);
  const auto* window = static_cast<const SetupWindow*>(parameter);
  // Both stay frozen while the window is Working; the worker touches nothing else.
  HWND target = window->hwnd;
  const std::wstring folder = window->installFolder;
  PostProgress(&target, Tr(L"Checking the installation package", L"正在检查安装包"), 0.06);
  std::wstring failure;
  const bool succeeded = InstallPackage(folder, &target, failure);
  if (succeeded) PostProgress(&target, Tr(L"Installation complete", L"安装完成"), 1.0);
  PostFinished(target, succeeded, failure);
  return 0;
}
