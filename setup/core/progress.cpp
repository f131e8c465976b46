#include "setup/core/progress.h"

void PostProgress(const HWND* progressTarget, const wchar_t* text, double fraction) {
  if (!progressTarget) return;
  auto* update = new (std::nothrow) ProgressUpdate{text, fraction};
  if (!update) return;
  if (!PostMessageW(*progressTarget, ProgressMessage, 0, reinterpret_cast<LPARAM>(update))) delete update;
}
