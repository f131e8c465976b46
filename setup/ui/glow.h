// Soft glows as bitmaps: a gradient whose stops carry alpha, computed once on the CPU
// and drawn as a premultiplied bitmap. Bitmaps blend the same everywhere; gradient
// brushes with translucent stops do not (some renderers treat the stops as opaque).
#pragma once

#include <windows.h>
#include <d2d1.h>

#include <cstdint>
#include <vector>

#include "setup/core/handles.h"

struct GlowStop {
  float position;
  float r, g, b, a;  // straight, not premultiplied
};

enum class GlowShape {
  Radial,      // centred ellipse filling the bitmap; transparent outside it
  Horizontal,  // left edge to right edge
};

// Premultiplied BGRA pixels, row by row; the stops are interpolated as Direct2D does
// with gamma 2.2 (on the stored values) and clamped at both ends.
std::vector<std::uint32_t> GlowPixels(GlowShape shape, int width, int height, const GlowStop* stops, int count);
// The same as a bitmap of the target, `pixelsPerDip` pixels per DIP of the given size.
ComPtr<ID2D1Bitmap> MakeGlowBitmap(ID2D1RenderTarget* target, GlowShape shape, D2D1_SIZE_F dips, float pixelsPerDip,
                                   const GlowStop* stops, int count);
