// Drawing of the setup window's frames with Direct2D and DirectWrite: background,
// hero backdrop, header, content panel and the page of the current state.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include "setup/core/handles.h"
#include "setup/ui/layout.h"

struct SetupWindow;

struct Renderer {
  HWND hwnd = nullptr;
  ComPtr<ID2D1Factory> d2dFactory;
  ComPtr<IDWriteFactory> dwriteFactory;
  ComPtr<ID2D1HwndRenderTarget> renderTarget;
};

struct TextColour {
  float r, g, b, a;
};

// True when a render target exists or could be made for the window's client area.
bool EnsureRenderTarget(Renderer& renderer);
// The five text formats, in the window's language at the time of the call.
bool CreateTextFormats(SetupWindow& window);
// One complete frame from the window's fields and the clock.
void PaintWindow(SetupWindow& window);
void DrawPage(SetupWindow& window, ID2D1SolidColorBrush* brush);
void DrawButton(SetupWindow& window, const LayoutRect& rect, const wchar_t* label, bool primary);
void DrawLabel(ID2D1RenderTarget* target, const wchar_t* text, IDWriteTextFormat* format, const LayoutRect& rect,
               TextColour colour, DWRITE_TEXT_ALIGNMENT alignment);
