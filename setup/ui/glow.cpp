#include "setup/ui/glow.h"

#include <algorithm>
#include <cmath>

namespace {

std::uint32_t Premultiplied(const GlowStop* stops, int count, float t) {
  const GlowStop* next = stops;
  while (next < stops + count - 1 && next->position < t) ++next;
  GlowStop c = *next;
  if (next != stops && next->position > t) {
    const GlowStop& before = next[-1];
    const float f = (t - before.position) / (next->position - before.position);
    c = {t, before.r + f * (next->r - before.r), before.g + f * (next->g - before.g),
         before.b + f * (next->b - before.b), before.a + f * (next->a - before.a)};
  }
  auto byte = [](float v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
  return byte(c.a) << 24 | byte(c.r * c.a) << 16 | byte(c.g * c.a) << 8 | byte(c.b * c.a);
}

}  // namespace

std::vector<std::uint32_t> GlowPixels(GlowShape shape, int width, int height, const GlowStop* stops, int count) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0);
  if (count < 1 || width < 1 || height < 1) return pixels;
  for (int y = 0; y < height; ++y) {
    const float dy = (y + 0.5f) / height * 2 - 1;
    for (int x = 0; x < width; ++x) {
      const float u = (x + 0.5f) / width;
      float t = u;
      if (shape == GlowShape::Radial) {
        const float dx = u * 2 - 1;
        t = std::sqrt(dx * dx + dy * dy);
        if (t > 1) continue;
      }
      pixels[static_cast<std::size_t>(y) * width + x] = Premultiplied(stops, count, t);
    }
  }
  return pixels;
}

ComPtr<ID2D1Bitmap> MakeGlowBitmap(ID2D1RenderTarget* target, GlowShape shape, D2D1_SIZE_F dips, float pixelsPerDip,
                                   const GlowStop* stops, int count) {
  const int width = std::clamp(static_cast<int>(std::ceil(dips.width * pixelsPerDip)), 1, 4096);
  const int height =
      shape == GlowShape::Horizontal ? 1 : std::clamp(static_cast<int>(std::ceil(dips.height * pixelsPerDip)), 1, 4096);
  const std::vector<std::uint32_t> pixels = GlowPixels(shape, width, height, stops, count);
  const D2D1_BITMAP_PROPERTIES properties =
      D2D1::BitmapProperties(D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96, 96);
  ComPtr<ID2D1Bitmap> bitmap;
  if (!target || FAILED(target->CreateBitmap(D2D1::SizeU(width, height), pixels.data(), width * 4, properties,
                                             bitmap.put()))) {
    return {};
  }
  return bitmap;
}
