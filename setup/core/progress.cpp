#include "setup/core/progress.h"

void PostProgress(const HWND* progressTarget, const wchar_t* text, double fraction) {
  if (!progressTarget) return;
  auto* update = new (std::nothrow) ProgressUpdate{text, fraction};
  if (!update) return;
  if (!PostMessageW(*progressTarget, ProgressMessage, 0, reinterpret_cast<LPARAM>(update))) delete update;
}

void PostProgressPaced(const HWND* progressTarget, ProgressPacer& pacer, const wchar_t* text, double fraction) {
  if (!progressTarget) return;
  const int percent = static_cast<int>(fraction * 100.0);
  if (percent == pacer.shownPercent) return;
  pacer.shownPercent = percent;
  PostProgress(progressTarget, text, fraction);
}
