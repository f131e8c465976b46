#include "setup/ui/frame_pacing.h"

#include <dwmapi.h>

#include <algorithm>
#include <cmath>

#include "setup/core/handles.h"

namespace {

constexpr DWORD kCloaked = 14;  // DWMWA_CLOAKED
constexpr double kCoreShare = 0.25;
constexpr double kSmoothing = 0.3;

bool IsCloaked(HWND hwnd) {
  DWORD cloaked = 0;
  return SUCCEEDED(DwmGetWindowAttribute(hwnd, kCloaked, &cloaked, sizeof(cloaked))) && cloaked != 0;
}

double Milliseconds(const FILETIME& t) {
  return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
}

}  // namespace

double ProcessCpuMilliseconds() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  return Milliseconds(kernel) + Milliseconds(user);
}

void RecordFrame(FramePacing& pacing, double cpuMilliseconds, ULONGLONG endTicks) {
  const double cost = std::max(0.0, cpuMilliseconds);
  pacing.cost = pacing.lastEnd == 0 ? cost : pacing.cost + kSmoothing * (cost - pacing.cost);
  pacing.lastEnd = endTicks;
}

ULONGLONG AnimationDelay(const FramePacing& pacing) {
  const double budgeted = pacing.cost / kCoreShare - pacing.cost;
  return std::max<ULONGLONG>(kFrameInterval, static_cast<ULONGLONG>(std::ceil(budgeted)));
}

bool IsWindowHidden(HWND hwnd) {
  if (IsCloaked(hwnd)) return true;
  RECT own{};
  if (!GetWindowRect(hwnd, &own)) return false;
  UniqueGdiObject visible(CreateRectRgnIndirect(&own));
  if (!visible) return false;
  for (HWND above = GetWindow(hwnd, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV)) {
    // A layered window may let ours show through.
    if (!IsWindowVisible(above) || IsIconic(above) || IsCloaked(above) ||
        (GetWindowLongW(above, GWL_EXSTYLE) & WS_EX_LAYERED)) {
      continue;
    }
    RECT covering{};
    if (!GetWindowRect(above, &covering)) continue;
    UniqueGdiObject cover(CreateRectRgnIndirect(&covering));
    if (!cover) continue;
    if (CombineRgn(static_cast<HRGN>(visible.get()), static_cast<HRGN>(visible.get()),
                   static_cast<HRGN>(cover.get()), RGN_DIFF) == NULLREGION) {
      return true;
    }
  }
  return false;
}
