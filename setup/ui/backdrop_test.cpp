#include "setup/ui/backdrop.h"

#include <gtest/gtest.h>

TEST(Backdrop, BeamRunsTwiceAsFastWhileWorking) {
  EXPECT_DOUBLE_EQ(ScanPosition(0.0, UiState::Ready), 0.0);
  EXPECT_DOUBLE_EQ(ScanPosition(0.5, UiState::Ready), 0.5);
  EXPECT_DOUBLE_EQ(ScanPosition(0.5, UiState::Working), 0.0);
  EXPECT_DOUBLE_EQ(ScanPosition(0.3, UiState::Working), 0.6);
  EXPECT_DOUBLE_EQ(ScanPosition(0.3, UiState::Failed), 0.3);
}

TEST(Backdrop, CardsFadeAtBothEndsOfTheirTrack) {
  EXPECT_FLOAT_EQ(FileCardFade(112), 0);
  EXPECT_FLOAT_EQ(FileCardFade(816), 0);
  EXPECT_FLOAT_EQ(FileCardFade(184), 1);
  EXPECT_FLOAT_EQ(FileCardFade(148), 0.5f);
  EXPECT_FLOAT_EQ(FileCardFade(780), 0.5f);
  EXPECT_FLOAT_EQ(FileCardFade(100), 0);
}

TEST(Backdrop, CardGlowRisesBeforeTheBeamAndFallsAfterIt) {
  EXPECT_FLOAT_EQ(FileCardGlow(400, 400), 1);
  EXPECT_FLOAT_EQ(FileCardGlow(545, 400), 0);
  EXPECT_FLOAT_EQ(FileCardGlow(472.5f, 400), 0.5f);
  EXPECT_FLOAT_EQ(FileCardGlow(348, 400), 0);
  EXPECT_FLOAT_EQ(FileCardGlow(374, 400), 0.14f);
  EXPECT_NEAR(FileCardGlow(399.999f, 400), 0.28f, 1e-4);
  EXPECT_FLOAT_EQ(FileCardGlow(100, 400), 0);
}

TEST(Backdrop, CardsDriftFromRightToLeftAndFollowTheBeam) {
  FileCardPlacement first = PlaceFileCard(0, 0.0, 0.0, UiState::Ready);
  EXPECT_NEAR(first.x, 0.03f * 704 + 112, 1e-3);
  FileCardPlacement later = PlaceFileCard(0, 0.0, 0.01, UiState::Ready);
  EXPECT_LT(later.x, first.x);
  // Card 7 starts at offset 0.94; after 0.95 of the cycle it has wrapped to the right.
  EXPECT_NEAR(PlaceFileCard(7, 0.0, 0.95, UiState::Ready).x, 0.99f * 704 + 112, 1e-2);
  const float x = PlaceFileCard(3, 0.0, 0.2, UiState::Ready).x;
  EXPECT_NEAR(PlaceFileCard(3, x / 900.0, 0.2, UiState::Ready).glow, 1.0f, 1e-3);
  EXPECT_NEAR(PlaceFileCard(3, x / 1800.0, 0.2, UiState::Working).glow, 1.0f, 1e-3);
}
