#include "setup/ui/page_render.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "setup/core/language.h"
#include "setup/ui/glow.h"
#include "setup/ui/logo.h"
#include "setup/ui/setup_window.h"

namespace {

constexpr TextColour kHeaderText{0.96f, 1.0f, 0.98f, 1};
constexpr TextColour kUnselectedLanguage{0.70f, 0.82f, 0.76f, 1};
constexpr D2D1_COLOR_F kGlyphColour{0.83f, 0.92f, 0.88f, 1};
constexpr D2D1_COLOR_F kBackgroundClear{0.975f, 0.985f, 0.981f, 1};

D2D1_RECT_F ToRect(const LayoutRect& r) { return D2D1::RectF(r.left, r.top, r.right, r.bottom); }

void FillRounded(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const LayoutRect& r, float radius,
                 D2D1_COLOR_F colour) {
  brush->SetColor(colour);
  target->FillRoundedRectangle(D2D1::RoundedRect(ToRect(r), radius, radius), brush);
}

void MakeDeviceResources(SetupWindow& w) {
  Renderer& r = w.renderer;
  ID2D1RenderTarget* target = r.renderTarget.get();
  target->CreateSolidColorBrush(D2D1::ColorF(1, 1, 1, 1), r.brush.put());
  const D2D1_GRADIENT_STOP stops[] = {{0.0f, D2D1::ColorF(0.016f, 0.105f, 0.066f, 1)},
                                      {0.52f, D2D1::ColorF(0.022f, 0.225f, 0.125f, 1)},
                                      {1.0f, D2D1::ColorF(0.055f, 0.43f, 0.235f, 1)}};
  ComPtr<ID2D1GradientStopCollection> collection;
  target->CreateGradientStopCollection(stops, 3, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP, collection.put());
  if (collection) {
    target->CreateLinearGradientBrush(D2D1::LinearGradientBrushProperties({0, 0}, {kCanvasWidth, kCanvasHeight}),
                                      collection.get(), r.background.put());
  }
  float dpiX = 96, dpiY = 96;
  target->GetDpi(&dpiX, &dpiY);
  const GlowStop glow[] = {{0, 0.72f, 0.96f, 0.84f, 0.18f}, {1, 0.47f, 0.87f, 0.67f, 0}};
  r.heroGlow = MakeGlowBitmap(target, GlowShape::Radial, {820, 600}, dpiX / 96, glow, 2);
  r.backdrop = {};
  if (!w.logoBitmap) w.logoBitmap = LoadLogo(target, r.module);
  r.stillLayer.reset();
  r.pageLayer.reset();
}

void DrawBackground(Renderer& r, ID2D1RenderTarget* target) {
  if (r.background) target->FillRectangle(D2D1::RectF(0, 0, kCanvasWidth, kCanvasHeight), r.background.get());
  if (r.heroGlow) {
    target->DrawBitmap(r.heroGlow.get(), D2D1::RectF(650 - 410, 170 - 300, 650 + 410, 170 + 300), 1.0f,
                       D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
  }
}

void DrawLanguageSwitch(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  const LayoutRect chinese{702, 19, kLanguageSplitX, 45}, english{kLanguageSplitX, 19, 788, 45};
  const bool english_selected = UseEnglish;
  FillRounded(target, brush, kLanguageSwitch, 9, D2D1::ColorF(1, 1, 1, 0.075f));
  FillRounded(target, brush, english_selected ? english : chinese, 7, D2D1::ColorF(1, 1, 1, 0.16f));
  if (w.state != UiState::Working && ContainsPoint(kLanguageSwitch, w.pointerX, w.pointerY)) {
    FillRounded(target, brush, w.pointerX < kLanguageSplitX ? chinese : english, 7, D2D1::ColorF(1, 1, 1, 0.08f));
  }
  DrawLabel(target, L"中", w.smallFormat.get(), chinese, english_selected ? kUnselectedLanguage : kHeaderText,
            DWRITE_TEXT_ALIGNMENT_CENTER);
  DrawLabel(target, L"EN", w.smallFormat.get(), english, english_selected ? kHeaderText : kUnselectedLanguage,
            DWRITE_TEXT_ALIGNMENT_CENTER);
}

void DrawWindowButtons(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  if (ContainsPoint(kMinimizeButton, w.pointerX, w.pointerY)) {
    FillRounded(target, brush, kMinimizeButton, 8, D2D1::ColorF(1, 1, 1, 0.1f));
  }
  brush->SetColor(kGlyphColour);
  target->DrawLine({815, 33}, {829, 33}, brush, 1.6f);
  // No red while closing is refused: the button would promise what it will not do.
  if (w.state != UiState::Working && ContainsPoint(kCloseButton, w.pointerX, w.pointerY)) {
    FillRounded(target, brush, kCloseButton, 8, D2D1::ColorF(0.82f, 0.22f, 0.20f, 0.72f));
  }
  brush->SetColor(kGlyphColour);
  target->DrawLine({859, 27}, {873, 41}, brush, 1.6f);
  target->DrawLine({873, 27}, {859, 41}, brush, 1.6f);
}

void DrawHeader(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  if (w.logoBitmap) {
    target->DrawBitmap(w.logoBitmap.get(), D2D1::RectF(17, 14, 51, 48), 1.0f,
                       D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
  }
  DrawLabel(target, Tr(kProductName), w.titleFormat.get(), {58, 14, 260, 51}, kHeaderText,
            DWRITE_TEXT_ALIGNMENT_LEADING);
  DrawLanguageSwitch(w, target, brush);
  DrawWindowButtons(w, target, brush);
}

void DrawContentPanel(ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  brush->SetColor(D2D1::ColorF(1, 1, 1, 1));
  target->FillRectangle(ToRect(kContentPanel), brush);
  for (int i = 0; i < 8; ++i) {
    float a = 1 - 0.125f * i;
    brush->SetColor(D2D1::ColorF(0, 0.1f, 0.07f, 0.052f * a * a));
    target->FillRectangle(D2D1::RectF(0, 400 + 1.5f * i, kCanvasWidth, 401.5f + 1.5f * i), brush);
  }
}

void DrawFocusRing(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  FocusStop stops[kMaxFocusStops];
  const int count = FocusStops(w.state, IsFolderPinned(w), stops);
  for (int i = 0; i < count; ++i) {
    if (stops[i].target != w.focus) continue;
    const LayoutRect& r = stops[i].rect;
    const bool onHeader = r.bottom < kHeroArea.bottom;
    brush->SetColor(onHeader ? D2D1::ColorF(0.96f, 1.0f, 0.98f, 0.9f) : D2D1::ColorF(0.0f, 0.42f, 0.23f, 1));
    const float radius = onHeader ? 12.0f : 15.0f;
    target->DrawRoundedRectangle(
        D2D1::RoundedRect(D2D1::RectF(r.left - 3, r.top - 3, r.right + 3, r.bottom + 3), radius, radius), brush, 2.0f);
  }
}

UiState DrawingState(UiState state) {
  switch (state) {
    case UiState::Working:
    case UiState::Completed:
    case UiState::Failed:
      return state;
    default:
      return UiState::Ready;
  }
}

// Background, the hero glow, the grid and the wide glow: they change only with the
// accent colour of the state.
bool DrawStillLayer(SetupWindow& w, UiState drawing) {
  Renderer& r = w.renderer;
  if (r.stillLayer && r.stillState == drawing) return true;
  if (!r.stillLayer && FAILED(r.renderTarget->CreateCompatibleRenderTarget(r.stillLayer.put()))) return false;
  if (!r.backdrop.halo || r.backdrop.failedAccent != (drawing == UiState::Failed)) {
    float dpiX = 96, dpiY = 96;
    r.renderTarget->GetDpi(&dpiX, &dpiY);
    r.backdrop = MakeBackdropGlows(r.renderTarget.get(), drawing, ToRect(kHeroArea), dpiX / 96);
  }
  ID2D1BitmapRenderTarget* layer = r.stillLayer.get();
  layer->BeginDraw();
  layer->Clear(kBackgroundClear);
  DrawBackground(r, layer);
  DrawBackdropStill(layer, r.brush.get(), ToRect(kHeroArea), drawing, r.backdrop);
  if (FAILED(layer->EndDraw())) {
    r.stillLayer.reset();
    return false;
  }
  r.stillState = drawing;
  return true;
}

// Header, panel, page and focus ring over a transparent hero.
bool DrawPageLayer(SetupWindow& w) {
  Renderer& r = w.renderer;
  if (r.pageLayer && !r.pageStale) return true;
  if (!r.pageLayer) {
    if (FAILED(r.renderTarget->CreateCompatibleRenderTarget(r.pageLayer.put()))) return false;
    // Text over transparent pixels: sub-pixel colour fringes would show once blended.
    r.pageLayer->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  }
  ID2D1BitmapRenderTarget* layer = r.pageLayer.get();
  layer->BeginDraw();
  layer->Clear(D2D1::ColorF(0, 0, 0, 0));
  DrawHeader(w, layer, r.brush.get());
  DrawContentPanel(layer, r.brush.get());
  DrawPage(w, layer, r.brush.get());
  DrawFocusRing(w, layer, r.brush.get());
  if (FAILED(layer->EndDraw())) {
    r.pageLayer.reset();
    return false;
  }
  r.pageStale = false;
  return true;
}

void DrawLayer(ID2D1RenderTarget* target, ID2D1BitmapRenderTarget* layer) {
  ComPtr<ID2D1Bitmap> bitmap;
  if (!layer || FAILED(layer->GetBitmap(bitmap.put()))) return;
  const D2D1_SIZE_F size = bitmap->GetSize();
  target->DrawBitmap(bitmap.get(), D2D1::RectF(0, 0, size.width, size.height), 1.0f,
                     D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, nullptr);
}

}  // namespace

bool EnsureRenderTarget(Renderer& renderer) {
  if (renderer.renderTarget) return true;
  if (!renderer.d2dFactory || !renderer.hwnd) return false;
  RECT client{};
  GetClientRect(renderer.hwnd, &client);
  const D2D1_SIZE_U size = D2D1::SizeU(static_cast<UINT32>(std::max(1L, client.right - client.left)),
                                       static_cast<UINT32>(std::max(1L, client.bottom - client.top)));
  D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties();
  properties.dpiX = properties.dpiY = renderer.dpi;
  return SUCCEEDED(renderer.d2dFactory->CreateHwndRenderTarget(
      properties, D2D1::HwndRenderTargetProperties(renderer.hwnd, size), renderer.renderTarget.put()));
}

void DropRenderTarget(SetupWindow& w) {
  Renderer& r = w.renderer;
  r.pageLayer.reset();
  r.stillLayer.reset();
  r.backdrop = {};
  r.heroGlow.reset();
  r.background.reset();
  r.brush.reset();
  w.logoBitmap.reset();
  r.renderTarget.reset();
}

void ResizeRenderTarget(Renderer& renderer, UINT width, UINT height) {
  if (!renderer.renderTarget) return;
  renderer.renderTarget->Resize(D2D1::SizeU(width, height));
  renderer.stillLayer.reset();
  renderer.pageLayer.reset();
}

HRESULT PaintWindow(SetupWindow& w, ULONGLONG ticks) {
  const bool fresh = !w.renderer.renderTarget;
  if (!EnsureRenderTarget(w.renderer)) return E_FAIL;
  Renderer& r = w.renderer;
  if (fresh) {
    w.logoBitmap.reset();  // made on the device that was lost
    r.brush.reset();
  }
  if (!r.brush) MakeDeviceResources(w);
  ID2D1HwndRenderTarget* target = r.renderTarget.get();
  const UiState drawing = DrawingState(w.state);
  const bool layers = r.brush && DrawStillLayer(w, drawing) && DrawPageLayer(w);
  target->BeginDraw();
  target->SetTransform(D2D1::Matrix3x2F::Identity());
  target->Clear(kBackgroundClear);
  if (layers) {
    const double phase = static_cast<double>(ticks % 10000) / 10000.0;
    const double p26 = static_cast<double>(ticks % 26000) / 26000.0;
    DrawLayer(target, r.stillLayer.get());
    DrawBackdropMotion(target, r.brush.get(), ToRect(kHeroArea), phase, drawing, r.backdrop);
    DrawFileCards(target, phase, p26, drawing, r.brush.get());
    DrawLayer(target, r.pageLayer.get());
  }
  const HRESULT result = target->EndDraw();
  if (result == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) DropRenderTarget(w);
  return result;
}

void DrawLabel(ID2D1RenderTarget* target, const wchar_t* text, IDWriteTextFormat* format, const LayoutRect& rect,
               TextColour colour, DWRITE_TEXT_ALIGNMENT alignment) {
  if (!text || !*text || !format) return;
  format->SetTextAlignment(alignment);
  format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(target->CreateSolidColorBrush(D2D1::ColorF(colour.r, colour.g, colour.b, colour.a), brush.put()))) {
    return;
  }
  target->DrawText(text, static_cast<UINT32>(std::wcslen(text)), format, ToRect(rect), brush.get(),
                   D2D1_DRAW_TEXT_OPTIONS_CLIP, DWRITE_MEASURING_MODE_NATURAL);
}

void DrawButton(SetupWindow& w, ID2D1RenderTarget* target, const LayoutRect& rect, const wchar_t* label,
                bool primary) {
  const bool hovered = ContainsPoint(rect, w.pointerX, w.pointerY);
  D2D1_COLOR_F fill = primary ? D2D1::ColorF(0.071f, 0.718f, 0.416f, 1) : D2D1::ColorF(0.96f, 0.975f, 0.968f, 1);
  const D2D1_COLOR_F border = primary ? D2D1::ColorF(0.0f, 0.569f, 0.314f, 1) : D2D1::ColorF(0.82f, 0.86f, 0.84f, 1);
  const TextColour text = primary ? TextColour{1, 1, 1, 1} : TextColour{0.19f, 0.25f, 0.23f, 1};
  if (hovered) {
    fill.r = std::min(1.0f, fill.r + 0.045f);
    fill.g = std::min(1.0f, fill.g + 0.045f);
    fill.b = std::min(1.0f, fill.b + 0.045f);
  }
  ComPtr<ID2D1SolidColorBrush> brush;
  if (SUCCEEDED(target->CreateSolidColorBrush(fill, brush.put()))) {
    const D2D1_ROUNDED_RECT shape = D2D1::RoundedRect(ToRect(rect), 12, 12);
    target->FillRoundedRectangle(shape, brush.get());
    brush->SetColor(border);
    target->DrawRoundedRectangle(shape, brush.get(), 1.0f);
  }
  DrawLabel(target, label, w.buttonFormat.get(), rect, text, DWRITE_TEXT_ALIGNMENT_CENTER);
}

namespace {

constexpr TextColour kHeadingText{0.07f, 0.13f, 0.11f, 1};
constexpr TextColour kSecondaryText{0.36f, 0.43f, 0.40f, 1};
constexpr TextColour kMutedText{0.50f, 0.55f, 0.53f, 1};
constexpr TextColour kPrimaryBorderText{0.0f, 0.569f, 0.314f, 1};
constexpr D2D1_COLOR_F kPrimaryGreen{0.071f, 0.718f, 0.416f, 1};
constexpr DWRITE_TEXT_ALIGNMENT kLeading = DWRITE_TEXT_ALIGNMENT_LEADING;

const wchar_t* ReadyText(const SetupWindow& w, BilingualText repair, BilingualText update, BilingualText install) {
  return Tr(w.isRepair ? repair : w.isUpdate ? update : install);
}

// One line, shortened in the middle so that the last folder stays readable.
void DrawFolderPath(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush, const LayoutRect& r) {
  IDWriteFactory* factory = w.renderer.dwriteFactory.get();
  if (!factory || !w.bodyFormat || w.installFolder.empty()) return;
  ComPtr<IDWriteTextLayout> layout;
  if (FAILED(factory->CreateTextLayout(w.installFolder.c_str(), static_cast<UINT32>(w.installFolder.size()),
                                       w.bodyFormat.get(), r.right - r.left, r.bottom - r.top, layout.put()))) {
    return;
  }
  layout->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
  layout->SetTextAlignment(kLeading);
  layout->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
  ComPtr<IDWriteInlineObject> ellipsis;
  factory->CreateEllipsisTrimmingSign(layout.get(), ellipsis.put());
  const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, L'\\', 1};
  layout->SetTrimming(&trimming, ellipsis.get());
  brush->SetColor(D2D1::ColorF(0.17f, 0.23f, 0.21f, 1));
  target->DrawTextLayout({r.left, r.top}, layout.get(), brush, D2D1_DRAW_TEXT_OPTIONS_CLIP);
}

void DrawFolderBox(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  const D2D1_ROUNDED_RECT box = D2D1::RoundedRect(D2D1::RectF(50, 505, 666, 551), 10, 10);
  brush->SetColor(D2D1::ColorF(0.955f, 0.972f, 0.965f, 1));
  target->FillRoundedRectangle(box, brush);
  brush->SetColor(D2D1::ColorF(0.84f, 0.88f, 0.86f, 1));
  target->DrawRoundedRectangle(box, brush, 1.0f);
  DrawFolderPath(w, target, brush, {67, 512, 575, 545});
  if (!IsFolderPinned(w)) {
    DrawLabel(target, Tr(L"Change", L"更改"), w.buttonFormat.get(), {594, 512, 651, 545}, kPrimaryBorderText,
              DWRITE_TEXT_ALIGNMENT_CENTER);
  }
}

void DrawWarning(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  FillRounded(target, brush, {50, 562, 850, 589}, 8, D2D1::ColorF(1.0f, 0.965f, 0.84f, 1));
  DrawLabel(target, L"!", w.smallFormat.get(), {59, 563, 75, 588}, {0.52f, 0.37f, 0.08f, 1},
            DWRITE_TEXT_ALIGNMENT_CENTER);
  DrawLabel(target,
            Tr(L"Install on a different drive from the one where your files were lost.",
               L"请安装到其他磁盘，不要安装到丢失文件所在的磁盘。"),
            w.smallFormat.get(), {80, 563, 838, 588}, {0.46f, 0.34f, 0.10f, 1}, kLeading);
}

void DrawReadyPage(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  const bool fresh = !w.isRepair && !w.isUpdate;
  DrawLabel(target, ReadyText(w, {L"Repair Velmora", L"修复岫澜"}, {L"Update Velmora", L"更新岫澜"},
                              {L"Install Velmora", L"安装岫澜"}),
            w.headingFormat.get(), {50, 426, 520, 470}, kHeadingText, kLeading);
  DrawLabel(target,
            w.isUpdate ? Tr(L"Your license and settings will be kept.", L"授权和设置将继续保留。")
                       : Tr(L"Choose an installation location, then start.", L"确认安装位置后即可开始。"),
            w.bodyFormat.get(), {50, 468, 600, 495}, {0.38f, 0.44f, 0.42f, 1}, kLeading);
  DrawFolderBox(w, target, brush);
  DrawButton(w, target, kReadyPrimary,
             ReadyText(w, {L"Repair now", L"立即修复"}, {L"Update now", L"立即更新"}, {L"Install now", L"立即安装"}),
             true);
  if (fresh) DrawWarning(w, target, brush);
  DrawLabel(target, Tr(L"Windows 10 / 11 · 64-bit", L"支持 Windows 10 / 11 64 位系统"), w.smallFormat.get(),
            fresh ? LayoutRect{50, 603, 400, 629} : LayoutRect{50, 582, 400, 610}, kMutedText, kLeading);
}

void DrawWorkingPage(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  DrawLabel(target, w.isUpdate ? Tr(L"Updating Velmora", L"正在更新岫澜") : Tr(L"Installing Velmora", L"正在安装岫澜"),
            w.headingFormat.get(), {50, 432, 600, 474}, kHeadingText, kLeading);
  DrawLabel(target, w.statusText.c_str(), w.bodyFormat.get(), {50, 482, 720, 512}, kSecondaryText, kLeading);
  const ProgressDisplay progress = ComputeProgressDisplay(w.progress);
  const std::wstring percent = std::to_wstring(progress.percent) + L"%";
  DrawLabel(target, percent.c_str(), w.bodyFormat.get(), {760, 482, 850, 512}, {0.12f, 0.55f, 0.40f, 1},
            DWRITE_TEXT_ALIGNMENT_TRAILING);
  FillRounded(target, brush, {50, 528, 850, 540}, 6, D2D1::ColorF(0.91f, 0.94f, 0.93f, 1));
  if (progress.showFill) FillRounded(target, brush, {50, 528, progress.fillRight, 540}, 6, kPrimaryGreen);
  DrawLabel(target,
            Tr(L"Please keep this window open while installation finishes.", L"安装完成前，请保持此窗口开启。"),
            w.smallFormat.get(), {50, 572, 700, 600}, kMutedText, kLeading);
}

void DrawCompletedPage(SetupWindow& w, ID2D1RenderTarget* target) {
  DrawLabel(target, Tr(L"Installation complete", L"安装完成"), w.headingFormat.get(), {50, 432, 540, 474},
            kHeadingText, kLeading);
  DrawLabel(target, Tr(L"Velmora is ready to use.", L"岫澜已准备就绪。"), w.bodyFormat.get(), {50, 482, 540, 512},
            kSecondaryText, kLeading);
  DrawButton(w, target, kFinishButton, Tr(L"Finish", L"完成"), false);
  DrawButton(w, target, kOpenButton, Tr(L"Open Velmora", L"打开岫澜"), true);
}

void DrawFailedPage(SetupWindow& w, ID2D1RenderTarget* target) {
  DrawLabel(target, Tr(L"Installation did not finish", L"安装未完成"), w.headingFormat.get(), {50, 426, 570, 468},
            {0.22f, 0.13f, 0.11f, 1}, kLeading);
  const wchar_t* message =
      w.errorText.empty() ? Tr(L"Try again to continue installation.", L"请重试以继续安装。") : w.errorText.c_str();
  DrawLabel(target, message, w.bodyFormat.get(), {50, 474, 540, 538}, {0.42f, 0.36f, 0.34f, 1}, kLeading);
  DrawButton(w, target, kFailedCloseButton, Tr(L"Close", L"关闭"), false);
  DrawButton(w, target, kTryAgainButton, Tr(L"Try again", L"重试"), true);
}

ComPtr<IDWriteTextFormat> MakeFormat(IDWriteFactory* factory, float size, DWRITE_FONT_WEIGHT weight) {
  const bool english = UseEnglish;
  ComPtr<IDWriteTextFormat> format;
  factory->CreateTextFormat(english ? L"Segoe UI Variable" : L"Microsoft YaHei UI", nullptr, weight,
                            DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, size,
                            english ? L"en-US" : L"zh-CN", format.put());
  return format;
}

}  // namespace

void DrawPage(SetupWindow& w, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush) {
  switch (w.state) {
    case UiState::Ready:
      DrawReadyPage(w, target, brush);
      return;
    case UiState::Working:
      DrawWorkingPage(w, target, brush);
      return;
    case UiState::Completed:
      DrawCompletedPage(w, target);
      return;
    default:
      DrawFailedPage(w, target);
  }
}

bool CreateTextFormats(SetupWindow& w) {
  IDWriteFactory* factory = w.renderer.dwriteFactory.get();
  if (!factory) return false;
  w.titleFormat = MakeFormat(factory, 17, DWRITE_FONT_WEIGHT_SEMI_BOLD);
  w.headingFormat = MakeFormat(factory, 27, DWRITE_FONT_WEIGHT_SEMI_BOLD);
  w.bodyFormat = MakeFormat(factory, 14, DWRITE_FONT_WEIGHT_REGULAR);
  w.smallFormat = MakeFormat(factory, 12, DWRITE_FONT_WEIGHT_REGULAR);
  w.buttonFormat = MakeFormat(factory, 14, DWRITE_FONT_WEIGHT_SEMI_BOLD);
  return w.titleFormat && w.headingFormat && w.bodyFormat && w.smallFormat && w.buttonFormat;
}
