// How worker code reports to the setup window: posted records whose ownership
// passes to the window once PostMessageW succeeded.
#pragma once

#include <windows.h>

#include <string>

inline constexpr UINT ProgressMessage = WM_APP + 41;  // lParam: ProgressUpdate*
inline constexpr UINT FinishedMessage = WM_APP + 42;  // wParam: success; lParam: std::wstring* or null

struct ProgressUpdate {
  std::wstring text;
  double fraction = 0.0;
};

// Posts to *progressTarget when there is one; a failed post frees the record at once.
// Without a target nothing is allocated.
void PostProgress(const HWND* progressTarget, const wchar_t* text, double fraction);

// Every post is a round trip through the window's queue (and the Wine server): loops
// that report often post only when the whole percent the window shows changes.
struct ProgressPacer {
  int shownPercent = -1;
};
void PostProgressPaced(const HWND* progressTarget, ProgressPacer& pacer, const wchar_t* text, double fraction);
