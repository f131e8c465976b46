#include "setup/ui/layout.h"

#include <algorithm>

bool ContainsPoint(const LayoutRect& rect, float x, float y) {
  return x >= rect.left && x <= rect.right && y >= rect.top && y <= rect.bottom;
}

namespace {

HitTarget PageTarget(UiState state, bool folderPinned, float x, float y) {
  switch (state) {
    case UiState::Ready:
      if (!folderPinned && ContainsPoint(kChangeControl, x, y)) return HitTarget::ChangeFolder;
      if (ContainsPoint(kReadyPrimary, x, y)) return HitTarget::StartInstall;
      return HitTarget::None;
    case UiState::Working:
      return HitTarget::None;
    case UiState::Completed:
      if (ContainsPoint(kOpenButton, x, y)) return HitTarget::OpenApplication;
      if (ContainsPoint(kFinishButton, x, y)) return HitTarget::Finish;
      return HitTarget::None;
    case UiState::Failed:
      break;
  }
  if (ContainsPoint(kTryAgainButton, x, y)) return HitTarget::StartInstall;
  if (ContainsPoint(kFailedCloseButton, x, y)) return HitTarget::CloseFailed;
  return HitTarget::None;
}

}  // namespace

HitTarget HitTest(UiState state, bool folderPinned, float x, float y) {
  if (state != UiState::Working && ContainsPoint(kLanguageSwitch, x, y)) {
    return x >= kLanguageSplitX ? HitTarget::ChooseEnglish : HitTarget::ChooseChinese;
  }
  if (ContainsPoint(kCloseButton, x, y)) return HitTarget::Close;
  if (ContainsPoint(kMinimizeButton, x, y)) return HitTarget::Minimize;
  return PageTarget(state, folderPinned, x, y);
}

int FocusStops(UiState state, bool folderPinned, FocusStop (&stops)[kMaxFocusStops]) {
  int count = 0;
  auto add = [&](HitTarget target, const LayoutRect& rect) { stops[count++] = {target, rect}; };
  switch (state) {
    case UiState::Working:
      return 0;
    case UiState::Ready:
      add(HitTarget::ToggleLanguage, kLanguageSwitch);
      if (!folderPinned) add(HitTarget::ChangeFolder, kChangeControl);
      add(HitTarget::StartInstall, kReadyPrimary);
      return count;
    case UiState::Completed:
      add(HitTarget::ToggleLanguage, kLanguageSwitch);
      add(HitTarget::Finish, kFinishButton);
      add(HitTarget::OpenApplication, kOpenButton);
      return count;
    default:
      add(HitTarget::ToggleLanguage, kLanguageSwitch);
      add(HitTarget::CloseFailed, kFailedCloseButton);
      add(HitTarget::StartInstall, kTryAgainButton);
      return count;
  }
}

HitTarget NextFocus(UiState state, bool folderPinned, HitTarget current, bool backwards) {
  FocusStop stops[kMaxFocusStops];
  const int count = FocusStops(state, folderPinned, stops);
  if (count == 0) return HitTarget::None;
  int at = -1;
  for (int i = 0; i < count; ++i) {
    if (stops[i].target == current) at = i;
  }
  if (at < 0) return stops[backwards ? count - 1 : 0].target;
  return stops[(at + (backwards ? count - 1 : 1)) % count].target;
}

HitTarget PrimaryTarget(UiState state) {
  switch (state) {
    case UiState::Working:
      return HitTarget::None;
    case UiState::Completed:
      return HitTarget::OpenApplication;
    default:
      return HitTarget::StartInstall;
  }
}

ProgressDisplay ComputeProgressDisplay(double progress) {
  double p = progress;
  if (!(p < 1.0)) p = 1.0;
  if (!(p > 0.0)) p = 0.0;
  ProgressDisplay display;
  display.percent = static_cast<int>(p * 100.0);
  display.showFill = static_cast<float>(p) > 0.001f;
  display.fillRight = std::max(62.0f, static_cast<float>(50.0 + 800.0 * p));
  return display;
}
