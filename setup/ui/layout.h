// The fixed 900 x 640 DIP canvas of the setup window: the rectangles that are both
// drawn and clicked, and the arithmetic of the progress display. Pure functions only.
#pragma once

#include "setup/ui/ui_state.h"

struct LayoutRect {
  float left, top, right, bottom;
};

inline constexpr float kCanvasWidth = 900.0f;
inline constexpr float kCanvasHeight = 640.0f;
inline constexpr LayoutRect kHeroArea{0, 0, 900, 400};
inline constexpr LayoutRect kContentPanel{0, 400, 900, 640};
inline constexpr LayoutRect kLanguageSwitch{700, 17, 790, 47};
inline constexpr float kLanguageSplitX = 744.0f;  // left half Chinese, right half English
inline constexpr LayoutRect kMinimizeButton{802, 14, 842, 50};
inline constexpr LayoutRect kCloseButton{846, 14, 886, 50};
inline constexpr LayoutRect kChangeControl{594, 505, 666, 551};
inline constexpr LayoutRect kReadyPrimary{690, 499, 850, 557};
inline constexpr LayoutRect kOpenButton{650, 499, 850, 557};
inline constexpr LayoutRect kFinishButton{542, 499, 638, 557};
inline constexpr LayoutRect kTryAgainButton{690, 499, 850, 557};
inline constexpr LayoutRect kFailedCloseButton{586, 499, 678, 557};
// The header strip left of the language switch drags the window.
inline constexpr float kCaptionHeight = 58.0f;
inline constexpr float kCaptionRight = 690.0f;

// Edges inclusive on all four sides.
bool ContainsPoint(const LayoutRect& rect, float x, float y);

enum class HitTarget {
  None,
  ChooseChinese,
  ChooseEnglish,
  Close,
  Minimize,
  ChangeFolder,
  StartInstall,  // "Install/Update/Repair now" and "Try again"
  OpenApplication,
  Finish,
  CloseFailed,
  ToggleLanguage,  // the language switch as one keyboard control
};

// What a button release at (x, y) DIPs acts on; the first matching rectangle wins.
HitTarget HitTest(UiState state, bool folderPinned, float x, float y);

// The controls the keyboard reaches on a page, in Tab order: the language switch, then
// the page's controls left to right.
struct FocusStop {
  HitTarget target;
  LayoutRect rect;
};
inline constexpr int kMaxFocusStops = 3;
int FocusStops(UiState state, bool folderPinned, FocusStop (&stops)[kMaxFocusStops]);
// The control after `current` (before it when `backwards`), wrapping round; the first
// (last) one when nothing has focus; None when the page has no controls.
HitTarget NextFocus(UiState state, bool folderPinned, HitTarget current, bool backwards);
// The filled button of the page, which Enter presses when nothing has focus.
HitTarget PrimaryTarget(UiState state);

struct ProgressDisplay {
  int percent;       // trunc(p * 100) of the clamped progress
  bool showFill;     // false while the bar would be (almost) empty
  float fillRight;   // right edge of the fill, at least 62
};

ProgressDisplay ComputeProgressDisplay(double progress);
