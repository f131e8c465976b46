#include "setup/ui/layout.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(ProgressDisplay, ClampsTruncatesAndKeepsTheMinimumFill) {
  // progress, then the percent shown, whether the bar has a fill, and the fill's right edge
  const std::tuple<double, int, bool, float> cases[] = {
      {1.3, 100, true, 850.0f},  {-0.2, 0, false, 62.0f}, {0.0005, 0, false, 62.0f},
      {0.002, 0, true, 62.0f},   {0.999, 99, true, 849.2f}, {0.5, 50, true, 450.0f},
  };
  for (const auto& [progress, percent, showFill, fillRight] : cases) {
    SCOPED_TRACE(progress);
    const ProgressDisplay display = ComputeProgressDisplay(progress);
    EXPECT_EQ(std::tie(display.percent, display.showFill), std::tie(percent, showFill));
    EXPECT_NEAR(display.fillRight, fillRight, 0.001f);
  }
}

TEST(HitTest, RectanglesAreInclusiveAndTestedInOrder) {
  using S = UiState;
  using T = HitTarget;
  // state, folder pinned, point, target
  const std::tuple<UiState, bool, float, float, HitTarget> cases[] = {
      {S::Ready, false, 690, 499, T::StartInstall}, {S::Ready, false, 690, 498.67f, T::None},
      {S::Ready, false, 850, 557, T::StartInstall}, {S::Ready, true, 600, 520, T::None},
      {S::Ready, false, 743.9f, 30, T::ChooseChinese}, {S::Ready, false, 744, 30, T::ChooseEnglish},
      {S::Working, false, 700, 520, T::None},       {S::Working, false, 846, 14, T::Close},
      {S::Working, false, 842, 50, T::Minimize},    {S::Failed, false, 586, 499, T::CloseFailed},
      {S::Completed, false, 650, 499, T::OpenApplication}, {S::Completed, false, 638, 557, T::Finish},
      {S::Completed, false, 760, 30, T::ChooseEnglish},
  };
  for (const auto& [state, pinned, x, y, expected] : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(state) << " at " << x << "," << y);
    EXPECT_EQ(HitTest(state, pinned, x, y), expected);
  }
}
