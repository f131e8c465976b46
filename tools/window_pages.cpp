// Shows the setup window on any page without running an install, and measures its
// frames; for screenshots and the drawing benchmark, never shipped.
//   window_pages show PAGE LANG     PAGE: ready, update, repair, working, completed, failed
//                                   LANG: en or zh; runs until the window is closed
//   window_pages bench FRAMES LANG  per page: wall and CPU milliseconds of an animation frame,
//                                   and on Ready of a frame whose page layer is redrawn
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "setup/core/handles.h"
#include "setup/core/language.h"
#include "setup/ui/page_render.h"
#include "setup/ui/setup_window.h"

namespace {

constexpr const wchar_t* kPages[] = {L"ready", L"update", L"repair", L"working", L"completed", L"failed"};

bool FillPage(SetupWindow& w, const std::wstring& page) {
  w.installFolder = L"C:\\Program Files\\Velmora";
  w.isUpdate = page == L"update";
  w.isRepair = page == L"repair";
  if (page == L"working") {
    w.state = UiState::Working;
    w.progress = 0.42;
    w.statusText = Tr(L"Checking the installation package", L"正在检查安装包");
  } else if (page == L"completed") {
    w.state = UiState::Completed;
    w.progress = 1.0;
  } else if (page == L"failed") {
    w.state = UiState::Failed;
  } else if (page != L"ready" && page != L"update" && page != L"repair") {
    return false;
  }
  return true;
}

double Milliseconds(const FILETIME& t) {
  ULARGE_INTEGER value{{t.dwLowDateTime, t.dwHighDateTime}};
  return static_cast<double>(value.QuadPart) / 10000.0;
}

// CPU milliseconds of this thread and of the whole process (Wine draws on helper threads).
void CpuNow(double& thread, double& process) {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  thread = Milliseconds(kernel) + Milliseconds(user);
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  process = Milliseconds(kernel) + Milliseconds(user);
}

// A frame that only clears and presents: the fixed cost every frame pays under this system.
void PaintClearOnly(SetupWindow& w) {
  if (!EnsureRenderTarget(w.renderer)) return;
  w.renderer.renderTarget->BeginDraw();
  w.renderer.renderTarget->Clear(D2D1::ColorF(1, 1, 1, 1));
  w.renderer.renderTarget->EndDraw();
}

enum class FrameKind { Animation, PageChanged, ClearOnly };

void PaintFrame(SetupWindow& w, FrameKind kind) {
  if (kind == FrameKind::ClearOnly) return PaintClearOnly(w);
  if (kind == FrameKind::PageChanged) w.renderer.pageStale = true;
  PaintWindow(w, GetTickCount64());
}

void MeasureFrames(SetupWindow& w, const wchar_t* name, int frames, FrameKind kind) {
  for (int i = 0; i < 5; ++i) PaintFrame(w, kind);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  double thread0, process0, thread1, process1;
  CpuNow(thread0, process0);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < frames; ++i) PaintFrame(w, kind);
  QueryPerformanceCounter(&end);
  CpuNow(thread1, process1);
  const double wall = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
  std::wprintf(L"%-12ls %10.2f %14.2f %15.2f\n", name, wall / frames, (thread1 - thread0) / frames,
               (process1 - process0) / frames);
}

int Bench(int frames, HINSTANCE module) {
  std::wprintf(L"%-12ls %10ls %14ls %15ls   (ms per frame, %d frames)\n", L"page", L"wall", L"thread CPU",
               L"process CPU", frames);
  for (const wchar_t* page : kPages) {
    SetupWindow w;
    FillPage(w, page);
    if (!CreateSetupWindow(w, module)) return 4;
    MeasureFrames(w, page, frames, FrameKind::Animation);
    if (std::wcscmp(page, L"ready") == 0) {
      MeasureFrames(w, L"page changed", frames, FrameKind::PageChanged);
      MeasureFrames(w, L"clear-only", frames, FrameKind::ClearOnly);
    }
    DestroyWindow(w.hwnd);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 87;
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  ComApartment com(COINIT_APARTMENTTHREADED);
  UseEnglish = std::wcscmp(argv[3], L"zh") != 0;
  HINSTANCE module = GetModuleHandleW(nullptr);
  if (std::wcscmp(argv[1], L"bench") == 0) return Bench(std::max(1, _wtoi(argv[2])), module);
  SetupWindow window;
  if (std::wcscmp(argv[1], L"show") != 0 || !FillPage(window, argv[2])) return 87;
  return RunSetupWindow(window, module);
}
