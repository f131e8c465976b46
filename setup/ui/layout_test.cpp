#include "setup/ui/layout.h"

#include <gtest/gtest.h>

TEST(ProgressDisplay, ClampsTruncatesAndKeepsTheMinimumFill) {
  struct Case {
    double progress;
    int percent;
    bool showFill;
    float fillRight;
  };
  const Case cases[] = {
      {1.3, 100, true, 850.0f},  {-0.2, 0, false, 62.0f}, {0.0005, 0, false, 62.0f},
      {0.002, 0, true, 62.0f},   {0.999, 99, true, 849.2f}, {0.5, 50, true, 450.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.progress);
    ProgressDisplay display = ComputeProgressDisplay(c.progress);
    EXPECT_EQ(display.percent, c.percent);
    EXPECT_EQ(display.showFill, c.showFill);
    EXPECT_NEAR(display.fillRight, c.fillRight, 0.001f);
  }
}

TEST(HitTest, RectanglesAreInclusiveAndTestedInOrder) {
  struct Case {
    UiState state;
    bool folderPinned;
    float x, y;
    HitTarget expected;
  };
  const Case cases[] = {
      {UiState::Ready, false, 690, 499, HitTarget::StartInstall},
      {UiState::Ready, false, 850, 557, HitTarget::StartInstall},
      {UiState::Ready, false, 690, 498.67f, HitTarget::None},
      {UiState::Ready, true, 600, 520, HitTarget::None},
      {UiState::Ready, false, 743.9f, 30, HitTarget::ChooseChinese},
      {UiState::Ready, false, 744, 30, HitTarget::ChooseEnglish},
      {UiState::Working, false, 700, 520, HitTarget::None},
      {UiState::Working, false, 846, 14, HitTarget::Close},
      {UiState::Working, false, 842, 50, HitTarget::Minimize},
      {UiState::Completed, false, 650, 499, HitTarget::OpenApplication},
      {UiState::Completed, false, 638, 557, HitTarget::Finish},
      {UiState::Completed, false, 760, 30, HitTarget::ChooseEnglish},
      {UiState::Failed, false, 586, 499, HitTarget::CloseFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.state) << " at " << c.x << "," << c.y);
    EXPECT_EQ(HitTest(c.state, c.folderPinned, c.x, c.y), c.expected);
  }
}
