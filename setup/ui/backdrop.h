// The animated hero picture: perspective grid, particles, scan beam, success badge
// and drifting file cards. Pure functions of their arguments.
#pragma once

#include <windows.h>
#include <d2d1.h>

#include "setup/core/handles.h"
#include "setup/ui/ui_state.h"

struct FileCardPlacement {
  float x;     // centre, from 816 down to 112
  float fade;  // 0 at the ends of the track, 1 from 72 DIPs inside
  float glow;  // 1 with the beam on the card
  float bob;   // -1..1
};

// Card i (0..7) at the beam phase and the 26-second drift cycle p26.
FileCardPlacement PlaceFileCard(int i, double phase, double p26, UiState state);
float FileCardFade(float x);

// The soft shapes of the backdrop in the accent of a state, made once per device.
struct BackdropGlows {
  bool failedAccent = false;
  ComPtr<ID2D1Bitmap> glow;   // the wide glow behind the grid's centre
  ComPtr<ID2D1Bitmap> trail;  // the fading band behind the beam, one pixel high
  ComPtr<ID2D1Bitmap> halo;   // the beam's halo
};
BackdropGlows MakeBackdropGlows(ID2D1RenderTarget* target, UiState state, const D2D1_RECT_F& hero,
                                float pixelsPerDip);

// What stands still: the grid and the wide glow.
void DrawBackdropStill(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const D2D1_RECT_F& hero,
                       UiState state, const BackdropGlows& glows);
// What moves with the phase: particles, then the beam or the success badge.
void DrawBackdropMotion(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const D2D1_RECT_F& hero,
                        double phase, UiState state, const BackdropGlows& glows);
// The cards at the beam phase and the 26-second drift cycle p26.
void DrawFileCards(ID2D1RenderTarget* target, double phase, double p26, UiState state, ID2D1SolidColorBrush* brush);
