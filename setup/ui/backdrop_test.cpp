#include "setup/ui/backdrop.h"

#include <gtest/gtest.h>

TEST(Backdrop, CardsDriftFromRightToLeftAndFollowTheBeam) {
  const float first = PlaceFileCard(0, 0.0, 0.0, UiState::Ready).x;
  EXPECT_LT(PlaceFileCard(0, 0.0, 0.01, UiState::Ready).x, first);
  // Card 7 starts at offset 0.94; after 0.95 of the cycle it has wrapped to the right.
  EXPECT_NEAR(PlaceFileCard(7, 0.0, 0.95, UiState::Ready).x, 0.99f * 704 + 112, 1e-2);
  // The card under the beam glows fully; the beam runs twice as fast while working.
  const float x = PlaceFileCard(3, 0.0, 0.2, UiState::Ready).x;
  EXPECT_NEAR(PlaceFileCard(3, x / 900.0, 0.2, UiState::Ready).glow, 1.0f, 1e-3);
  EXPECT_NEAR(PlaceFileCard(3, x / 1800.0, 0.2, UiState::Working).glow, 1.0f, 1e-3);
  // Cards fade out at both ends of their track.
  EXPECT_FLOAT_EQ(FileCardFade(112), 0);
  EXPECT_FLOAT_EQ(FileCardFade(816), 0);
}
