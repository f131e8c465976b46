#include "setup/ui/logo.h"

#include <wincodec.h>

#include <vector>

namespace {

// Decodes frame 0 of the image into premultiplied BGRA converter output.
ComPtr<IWICFormatConverter> ConvertImage(IWICImagingFactory* factory, const void* bytes, std::size_t size) {
  ComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(stream.put()))) return {};
  if (FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)),
                                          static_cast<DWORD>(size)))) {
    return {};
  }
  ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                              decoder.put()))) {
    return {};
  }
  ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.put()))) return {};
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.put()))) return {};
  if (FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                   0.0, WICBitmapPaletteTypeCustom))) {
    return {};
  }
  return converter;
}

}  // namespace

ComPtr<ID2D1Bitmap> DecodeLogo(ID2D1RenderTarget* target, const void* bytes, std::size_t size) {
  if (!target || !bytes || size == 0 || size > 0xFFFFFFFFu) return {};
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              factory.put_void()))) {
    return {};
  }
  ComPtr<IWICFormatConverter> converter = ConvertImage(factory.get(), bytes, size);
  UINT width = 0, height = 0;
  if (!converter || FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0) return {};
  if (width > 16384 || height > 16384) return {};  // far beyond any logo; keeps the buffer size sane
  const UINT stride = 4 * width;
  std::vector<BYTE> pixels(static_cast<std::size_t>(stride) * height);
  if (FAILED(converter->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()), pixels.data()))) return {};
  const D2D1_BITMAP_PROPERTIES properties =
      D2D1::BitmapProperties(D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96, 96);
  ComPtr<ID2D1Bitmap> bitmap;
  if (FAILED(target->CreateBitmap(D2D1::SizeU(width, height), pixels.data(), stride, properties, bitmap.put()))) {
    return {};
  }
  return bitmap;
}

ComPtr<ID2D1Bitmap> LoadLogo(ID2D1RenderTarget* target, HMODULE module) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(LogoResourceId), MAKEINTRESOURCEW(10));
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  DWORD size = SizeofResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return {};
  return DecodeLogo(target, bytes, size);
}
