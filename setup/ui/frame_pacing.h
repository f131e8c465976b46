// When the setup window draws its next animation frame, and whether a frame would be
// seen at all. Frames cost what the renderer costs: with hardware rendering little,
// with a software renderer tens of milliseconds of CPU each.
#pragma once

#include <windows.h>

inline constexpr ULONGLONG kFrameInterval = 33;         // milliseconds, about 30 frames a second
inline constexpr ULONGLONG kHiddenCheckInterval = 250;  // while nothing of the window shows

struct FramePacing {
  ULONGLONG lastEnd = 0;  // GetTickCount64 at the end of the last frame
  double cost = 0;        // CPU milliseconds of a frame, smoothed over the last frames
};

// CPU milliseconds of the whole process: renderers draw on helper threads too.
double ProcessCpuMilliseconds();
void RecordFrame(FramePacing& pacing, double cpuMilliseconds, ULONGLONG endTicks);
// Milliseconds from the end of the last frame to the start of the next animation frame:
// one frame interval at least, and long enough that animation takes at most a quarter
// of one core.
ULONGLONG AnimationDelay(const FramePacing& pacing);
// True when the window is cloaked or the windows above it cover all of it. The
// z-order is asked rather than the clip box or the render target's occlusion state,
// which some systems do not report for windows of other programs.
bool IsWindowHidden(HWND hwnd);
