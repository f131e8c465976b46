// Drawing of the setup window's frames with Direct2D and DirectWrite: background,
// hero backdrop, header, content panel and the page of the current state. What stands
// still is drawn into two cached layers, rebuilt only when something on them changes;
// a frame draws the layers with the moving parts between them.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include "setup/core/handles.h"
#include "setup/ui/backdrop.h"
#include "setup/ui/layout.h"

struct SetupWindow;

struct Renderer {
  HWND hwnd = nullptr;
  HMODULE module = nullptr;  // where the logo is loaded from
  float dpi = 0;             // of the render target; 0 takes the system's
  ComPtr<ID2D1Factory> d2dFactory;
  ComPtr<IDWriteFactory> dwriteFactory;
  ComPtr<ID2D1HwndRenderTarget> renderTarget;
  // Made on the render target and dropped with it.
  ComPtr<ID2D1SolidColorBrush> brush;
  ComPtr<ID2D1LinearGradientBrush> background;
  ComPtr<ID2D1Bitmap> heroGlow;
  BackdropGlows backdrop;
  ComPtr<ID2D1BitmapRenderTarget> stillLayer;  // background, glows, grid
  ComPtr<ID2D1BitmapRenderTarget> pageLayer;   // header, panel and page, transparent over the hero
  UiState stillState = UiState::Ready;
  bool pageStale = true;
};

struct TextColour {
  float r, g, b, a;
};

// True when a render target exists or could be made for the window's client area.
bool EnsureRenderTarget(Renderer& renderer);
// Everything made on the render target goes with it; the next frame makes it anew.
void DropRenderTarget(SetupWindow& window);
void ResizeRenderTarget(Renderer& renderer, UINT width, UINT height);
// The five text formats, in the window's language at the time of the call.
bool CreateTextFormats(SetupWindow& window);
// One frame at the animation clock `ticks` (milliseconds); EndDraw's result, or E_FAIL
// when no render target can be made.
HRESULT PaintWindow(SetupWindow& window, ULONGLONG ticks);
void DrawPage(SetupWindow& window, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush);
void DrawButton(SetupWindow& window, ID2D1RenderTarget* target, const LayoutRect& rect, const wchar_t* label,
                bool primary);
void DrawLabel(ID2D1RenderTarget* target, const wchar_t* text, IDWriteTextFormat* format, const LayoutRect& rect,
               TextColour colour, DWRITE_TEXT_ALIGNMENT alignment);
