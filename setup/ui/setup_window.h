// The custom-drawn setup window: state machine, worker thread and message loop.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <string>

#include "setup/core/handles.h"
#include "setup/ui/frame_pacing.h"
#include "setup/ui/layout.h"
#include "setup/ui/page_render.h"
#include "setup/ui/ui_state.h"

struct WindowStartState {
  std::wstring installFolder;
  bool isUpdate = false;
  bool isRepair = false;
};

// The window object. Its owner fills the start fields, runs the window and keeps the
// object until RunSetupWindow returns; the drawing resources go with it.
struct SetupWindow {
  HWND hwnd = nullptr;
  std::wstring installFolder;
  bool isUpdate = false;
  bool isRepair = false;
  UiState state = UiState::Ready;
  std::wstring statusText;
  std::wstring errorText;
  // The last failure refused the folder: "Try again" goes back to choosing one.
  bool folderRefused = false;
  double progress = 0.0;
  float dpiScale = 1.0f;
  float pointerX = -1.0f;
  float pointerY = -1.0f;
  unsigned exitCode = 1;
  Renderer renderer;
  ULONGLONG lastMoveRedraw = 0;
  ComPtr<ID2D1Bitmap> logoBitmap;
  ComPtr<IDWriteTextFormat> titleFormat;
  ComPtr<IDWriteTextFormat> headingFormat;
  ComPtr<IDWriteTextFormat> bodyFormat;
  ComPtr<IDWriteTextFormat> smallFormat;
  ComPtr<IDWriteTextFormat> buttonFormat;
  HitTarget focus = HitTarget::None;    // the control with the focus ring, by Tab
  HitTarget hovered = HitTarget::None;  // what the pointer is over, as last drawn
  bool trackingLeave = false;           // TrackMouseEvent is armed
  bool stillBackdrop = false;           // the system asks for less motion
  FramePacing pacing;

  SetupWindow() = default;
  explicit SetupWindow(const WindowStartState& start);
  SetupWindow(const SetupWindow&) = delete;
  SetupWindow& operator=(const SetupWindow&) = delete;
  ~SetupWindow();
};

// An update or repair installs into the registered folder only: no "Change".
inline bool IsFolderPinned(const SetupWindow& window) { return window.isUpdate || window.isRepair; }

// Runs the window until it closes; its exit code, or 4 when it cannot be created.
int RunSetupWindow(SetupWindow& window, HINSTANCE module);
int RunSetupWindow(const WindowStartState& start, HINSTANCE module);

// Window creation up to the first frame (class, size, factories, target, fonts, logo,
// timer); false, with nothing left on screen, when any of it fails.
bool CreateSetupWindow(SetupWindow& window, HINSTANCE module);
// The message loop of the calling thread until the quit message.
void RunMessageLoop();

LRESULT CALLBACK SetupWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT HandleWindowMessage(SetupWindow& window, UINT message, WPARAM wParam, LPARAM lParam);
void HandleClick(SetupWindow& window, float x, float y);
// What a click on `target` does; also the keyboard's Space and Enter.
void Activate(SetupWindow& window, HitTarget target);
// The focused control when it is one of the current page's, else None.
HitTarget FocusedControl(const SetupWindow& window);
void StartInstall(SetupWindow& window);
DWORD WINAPI InstallWorker(LPVOID window);
