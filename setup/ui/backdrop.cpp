#include "setup/ui/backdrop.h"

#include <algorithm>
#include <cmath>

#include "setup/ui/glow.h"

namespace {

constexpr float kPi = 3.14159265358979f;

struct Rgb {
  float r, g, b;
};

Rgb Accent(UiState state) {
  return state == UiState::Failed ? Rgb{0.98f, 0.43f, 0.31f} : Rgb{0.47f, 0.87f, 0.67f};
}

D2D1_COLOR_F Colour(Rgb c, float alpha) { return D2D1::ColorF(c.r, c.g, c.b, alpha); }

void Line(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, D2D1_COLOR_F colour, float x1, float y1,
          float x2, float y2, float width) {
  brush->SetColor(colour);
  target->DrawLine({x1, y1}, {x2, y2}, brush, width);
}

void Disc(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, D2D1_COLOR_F colour, float x, float y,
          float radiusX, float radiusY) {
  brush->SetColor(colour);
  target->FillEllipse(D2D1::Ellipse({x, y}, radiusX, radiusY), brush);
}

void DrawGrid(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const D2D1_RECT_F& r, Rgb accent) {
  const float w = r.right - r.left, h = r.bottom - r.top, cx = (r.left + r.right) / 2;
  for (int i = 0; i <= 12; ++i) {
    float x = r.left + w * i / 12;
    Line(target, brush, Colour(accent, i % 3 == 0 ? 0.052f : 0.03f), cx + (x - cx) * 0.54f, r.top + 0.08f * h,
         x, r.bottom, 0.72f);
  }
  for (int j = 0; j <= 7; ++j) {
    float y = r.top + (std::pow(j / 7.0f, 1.48f) * 0.92f + 0.08f) * h;
    Line(target, brush, Colour(accent, j % 2 == 0 ? 0.05f : 0.028f), r.left, y, r.right, y, 0.72f);
  }
}

void DrawParticles(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const D2D1_RECT_F& r, Rgb accent,
                   double phase) {
  const float w = r.right - r.left, h = r.bottom - r.top;
  for (int k = 0; k < 12; ++k) {
    float u = std::fmod(static_cast<float>(((k % 5) * 1.7f + 4.0f) * phase * 0.025f) + ((149 * k) % 887) / 887.0f,
                        1.0f);
    float radius = (k % 4) * 0.34f + 0.65f;
    Disc(target, brush, Colour(accent, (k % 3) * 0.045f + 0.1f), r.left + u * w,
         r.top + (((83 * k) % 760) / 950.0f + 0.1f) * h, radius, radius);
  }
}

void DrawBadge(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, float cx, float cy, Rgb accent) {
  Disc(target, brush, Colour(accent, 0.1f), cx, cy, 61, 61);
  Disc(target, brush, D2D1::ColorF(0, 0.08f, 0.055f, 0.2f), cx, cy + 4, 42, 42);
  Disc(target, brush, D2D1::ColorF(0.9f, 1.0f, 0.95f, 0.94f), cx, cy, 40, 40);
  Disc(target, brush, D2D1::ColorF(1, 1, 1, 0.48f), cx - 8, cy - 12, 20, 13);
  brush->SetColor(Colour(accent, 0.58f));
  target->DrawEllipse(D2D1::Ellipse({cx, cy}, 40, 40), brush, 1.4f);
  const D2D1_COLOR_F shadow = D2D1::ColorF(0, 0.18f, 0.1f, 0.16f);
  Line(target, brush, shadow, cx - 20, cy + 2, cx - 6, cy + 16, 7);
  Line(target, brush, shadow, cx - 6, cy + 16, cx + 25, cy - 19, 7);
  const D2D1_COLOR_F check = D2D1::ColorF(0.02f, 0.48f, 0.27f, 1);
  Line(target, brush, check, cx - 21, cy, cx - 7, cy + 14, 5.5f);
  Line(target, brush, check, cx - 7, cy + 14, cx + 24, cy - 21, 5.5f);
}

void DrawBeam(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const D2D1_RECT_F& r, Rgb accent,
              double phase, float sx, const BackdropGlows& glows) {
  const float w = r.right - r.left, h = r.bottom - r.top;
  if (glows.trail) {
    target->DrawBitmap(glows.trail.get(), D2D1::RectF(sx - 150, r.top, sx, r.bottom), 1.0f,
                       D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
  }
  if (glows.halo) {
    const float cy = r.top + 0.5f * h, ry = 0.6f * h;
    target->DrawBitmap(glows.halo.get(), D2D1::RectF(sx - 95, cy - ry, sx + 95, cy + ry), 1.0f,
                       D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
  }
  Line(target, brush, Colour(accent, 0.055f), sx - 48, r.top + 24, sx - 48, r.bottom - 24, 1);
  Line(target, brush, Colour(accent, 0.11f), sx - 22, r.top + 18, sx - 22, r.bottom - 18, 1.2f);
  Line(target, brush, Colour(accent, 0.075f), sx, r.top + 14, sx, r.bottom - 14, 9);
  Line(target, brush, Colour(accent, 0.22f), sx, r.top + 13, sx, r.bottom - 13, 4);
  Line(target, brush, Colour(accent, 0.9f), sx, r.top + 12, sx, r.bottom - 12, 1.35f);
  const float nodes[4][2] = {{0.19f, 0.35f}, {0.40f, 0.67f}, {0.63f, 0.28f}, {0.81f, 0.61f}};
  for (int n = 0; n < 4; ++n) {
    float x = r.left + nodes[n][0] * w, y = r.top + nodes[n][1] * h;
    float pulse = static_cast<float>((std::sin(phase * 7 + 1.8 * n) * 0.45 + 0.55) * 0.1);
    Disc(target, brush, Colour(accent, pulse), x, y, 12, 12);
    Disc(target, brush, Colour(accent, 0.82f), x, y, 3.4f, 3.4f);
  }
}

}  // namespace

// Where the beam stands, 0..1 across the hero area; twice as fast while working.
static double ScanPosition(double phase, UiState state) {
  return std::fmod(phase * (state == UiState::Working ? 2.0 : 1.0), 1.0);
}

BackdropGlows MakeBackdropGlows(ID2D1RenderTarget* target, UiState state, const D2D1_RECT_F& hero,
                                float pixelsPerDip) {
  const Rgb a = Accent(state);
  const float w = hero.right - hero.left, h = hero.bottom - hero.top;
  const GlowStop glow[] = {{0, a.r, a.g, a.b, 0.22f}, {0.52f, a.r, a.g, a.b, 0.075f}, {1, a.r, a.g, a.b, 0}};
  const GlowStop trail[] = {{0, a.r, a.g, a.b, 0},
                            {0.7f, a.r, a.g, a.b, 0.035f},
                            {0.93f, a.r, a.g, a.b, 0.22f},
                            {1, a.r, a.g, a.b, 0.46f}};
  const GlowStop halo[] = {{0, a.r, a.g, a.b, 0.15f}, {1, a.r, a.g, a.b, 0}};
  BackdropGlows glows;
  glows.failedAccent = state == UiState::Failed;
  glows.glow = MakeGlowBitmap(target, GlowShape::Radial, {0.94f * w, 1.56f * h}, pixelsPerDip, glow, 3);
  glows.trail = MakeGlowBitmap(target, GlowShape::Horizontal, {150, 1}, pixelsPerDip, trail, 4);
  glows.halo = MakeGlowBitmap(target, GlowShape::Radial, {190, 1.2f * h}, pixelsPerDip, halo, 2);
  return glows;
}

void DrawBackdropStill(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const D2D1_RECT_F& hero,
                       UiState state, const BackdropGlows& glows) {
  const float w = hero.right - hero.left, h = hero.bottom - hero.top, cx = (hero.left + hero.right) / 2;
  const float cy = hero.top + 0.47f * h;
  target->PushAxisAlignedClip(hero, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
  DrawGrid(target, brush, hero, Accent(state));
  if (glows.glow) {
    target->DrawBitmap(glows.glow.get(), D2D1::RectF(cx - 0.47f * w, cy - 0.78f * h, cx + 0.47f * w, cy + 0.78f * h),
                       1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
  }
  target->PopAxisAlignedClip();
}

void DrawBackdropMotion(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const D2D1_RECT_F& hero,
                        double phase, UiState state, const BackdropGlows& glows) {
  const Rgb accent = Accent(state);
  const float w = hero.right - hero.left, cx = (hero.left + hero.right) / 2;
  target->PushAxisAlignedClip(hero, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
  DrawParticles(target, brush, hero, accent, phase);
  if (state == UiState::Completed) {
    DrawBadge(target, brush, cx, (hero.top + hero.bottom) / 2, accent);
  } else {
    float sx = hero.left + static_cast<float>(ScanPosition(phase, state)) * w;
    DrawBeam(target, brush, hero, accent, phase, sx, glows);
  }
  target->PopAxisAlignedClip();
}

float FileCardFade(float x) { return std::clamp(std::min(x - 112.0f, 816.0f - x) / 72.0f, 0.0f, 1.0f); }

static float FileCardGlow(float scanX, float x) {
  float d = scanX - x;
  if (d < 0) return std::max(0.0f, d / 52.0f + 1.0f) * 0.28f;
  return std::max(0.0f, 1.0f - d / 145.0f);
}

FileCardPlacement PlaceFileCard(int i, double phase, double p26, UiState state) {
  const float offset = 0.03f + 0.13f * i;
  FileCardPlacement card;
  card.x = std::fmod(static_cast<float>(offset + 1.0 - p26), 1.0f) * 704.0f + 112.0f;
  card.fade = FileCardFade(card.x);
  card.bob = static_cast<float>(std::sin(1.25 * i + 2.0 * kPi * p26));
  card.glow = FileCardGlow(static_cast<float>(ScanPosition(phase, state) * 900.0), card.x);
  return card;
}

namespace {

constexpr float kCardScale[8] = {0.92f, 1.05f, 0.84f, 0.98f, 0.88f, 1.02f, 0.82f, 0.94f};
constexpr float kCardBaseLine[8] = {148, 270, 116, 226, 178, 294, 134, 250};

struct CardBox {
  float left, top, right, bottom, s;
};

void DrawCardGlyph(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const CardBox& c, int kind) {
  const float s = c.s, stroke = std::max(s, 0.8f);
  const float il = c.left + 5 * s, ir = c.right - 5 * s, it = c.top + 8 * s, ib = c.bottom - 6 * s;
  auto line = [&](float x1, float y1, float x2, float y2) { target->DrawLine({x1, y1}, {x2, y2}, brush, stroke); };
  auto outline = [&](float radius) {
    target->DrawRoundedRectangle(D2D1::RoundedRect(D2D1::RectF(il, it, ir, ib), radius, radius), brush, stroke);
  };
  if (kind == 0) {
    outline(2);
    target->FillEllipse(D2D1::Ellipse({ir - 4.2f * s, it + 4.5f * s}, 1.7f * s, 1.7f * s), brush);
    line(il + 2 * s, ib - 3 * s, il + 7 * s, it + 7 * s);
    line(il + 7 * s, it + 7 * s, ir - 2 * s, ib - 3 * s);
  } else if (kind == 1) {
    for (int m = 0; m < 3; ++m) {
      float y = it + (5.5f * m + 4) * s;
      line(il, y, m == 2 ? il + 0.68f * (ir - il) : ir, y);
    }
  } else if (kind == 2) {
    outline(2);
    const float xv = il + 6 * s, ym = (it + ib) / 2, tip = ir - 4 * s;
    line(xv, ym - 5 * s, xv, ym + 5 * s);
    line(xv, ym - 5 * s, tip, ym);
    line(tip, ym, xv, ym + 5 * s);
  } else if (kind == 3) {
    const float xc = (il + ir) / 2;
    line(xc, it, xc, ib);
    for (int m = 0; m < 4; ++m) {
      float y = it + (5 * m + 3) * s;
      line(xc, y, m % 2 == 0 ? xc - 3 * s : xc + 3 * s, y);
    }
  } else {
    outline(1.5f);
    line(il, it + 6 * s, ir, it + 6 * s);
    line(il, it + 12 * s, ir, it + 12 * s);
    line(il + 6 * s, it, il + 6 * s, ib);
  }
}

void DrawFileCard(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, int i, const FileCardPlacement& p) {
  const float s = kCardScale[i];
  CardBox c;
  c.s = s;
  c.left = p.x - 16 * s;
  c.right = c.left + 32 * s;
  c.top = kCardBaseLine[i] - 20 * s + p.bob * (s + 1.8f) - 4.5f * p.glow;
  c.bottom = c.top + 40 * s;
  const float depth = (s - 0.72f) * 0.92f + 0.72f, midLine = c.top + 0.55f * 40 * s;
  for (int j = 0; j < 5; ++j) {
    float a = 1 - j / 5.0f;
    brush->SetColor(D2D1::ColorF(0.47f, 0.87f, 0.67f, 0.075f * a * p.fade * depth));
    target->FillEllipse(D2D1::Ellipse({c.right + 11 + 10 * j, midLine + (j % 2 == 0 ? -1.5f : 1.5f)},
                                      0.7f * a + 1.2f, 0.45f * a + 1.0f),
                        brush);
  }
  brush->SetColor(D2D1::ColorF(0.7f, 1.0f, 0.88f, (0.11f * p.glow + 0.06f) * depth * p.fade));
  target->FillRoundedRectangle(D2D1::RoundedRect(D2D1::RectF(c.left, c.top, c.right, c.bottom), 4, 4), brush);
  brush->SetColor(D2D1::ColorF(0.91f, 1.0f, 0.96f, (0.32f * p.glow + 0.46f) * depth * p.fade));
  DrawCardGlyph(target, brush, c, i % 5);
}

}  // namespace

void DrawFileCards(ID2D1RenderTarget* target, double phase, double p26, UiState state, ID2D1SolidColorBrush* brush) {
  if (!brush || (state != UiState::Ready && state != UiState::Working)) return;
  for (int i = 0; i < 8; ++i) DrawFileCard(target, brush, i, PlaceFileCard(i, phase, p26, state));
}
