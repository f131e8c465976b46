// The animated hero picture: perspective grid, particles, scan beam, success badge
// and drifting file cards. Pure functions of their arguments and the clock.
#pragma once

#include <windows.h>
#include <d2d1.h>

#include "setup/ui/ui_state.h"

// Where the beam stands, 0..1 across the hero area; twice as fast while working.
double ScanPosition(double phase, UiState state);

struct FileCardPlacement {
  float x;     // centre, from 816 down to 112
  float fade;  // 0 at the ends of the track, 1 from 72 DIPs inside
  float glow;  // 1 with the beam on the card
  float bob;   // -1..1
};

// Card i (0..7) at the beam phase and the 26-second drift cycle p26.
FileCardPlacement PlaceFileCard(int i, double phase, double p26, UiState state);
float FileCardFade(float x);
float FileCardGlow(float scanX, float x);

void DrawBackdrop(ID2D1RenderTarget* target, const D2D1_RECT_F& hero, double phase, UiState state);
void DrawFileCards(ID2D1RenderTarget* target, double phase, UiState state, ID2D1SolidColorBrush* brush);
