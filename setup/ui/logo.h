// The header logo: a PNG carried as RCDATA 101, decoded once into a bitmap of the
// window's render target.
#pragma once

#include <windows.h>
#include <d2d1.h>

#include <cstddef>

#include "setup/core/handles.h"

inline constexpr int LogoResourceId = 101;

// The bitmap (premultiplied BGRA, 96 DPI), or empty when the resource is missing or
// cannot be decoded.
ComPtr<ID2D1Bitmap> LoadLogo(ID2D1RenderTarget* target, HMODULE module);
// The same for PNG (or other image) bytes already in memory; the bytes are not copied.
ComPtr<ID2D1Bitmap> DecodeLogo(ID2D1RenderTarget* target, const void* bytes, std::size_t size);
