#include "setup/ui/logo.h"

#include <gtest/gtest.h>
#include <wincodec.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A 64 x 64 WIC bitmap render target: enough to create bitmaps on, no window needed.
struct OffscreenTarget {
  ComApartment apartment{COINIT_APARTMENTTHREADED};
  ComPtr<IWICImagingFactory> wic;
  ComPtr<IWICBitmap> surface;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1RenderTarget> target;

  OffscreenTarget() {
    CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     wic.put_void());
    if (!wic) return;
    wic->CreateBitmap(64, 64, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, surface.put());
    D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr, factory.put_void());
    if (!surface || !factory) return;
    factory->CreateWicBitmapRenderTarget(surface.get(), D2D1::RenderTargetProperties(), target.put());
  }
};

// The logo as the build kit carries it (the build folder is also the working folder).
std::vector<char> ReadKitLogo() {
  const char* build = std::getenv("VELMORA_BUILD");
  std::string root = build ? build : ".";
  if (root.starts_with("/")) root = "Z:" + root;  // a Unix path, seen through Wine's Z: drive
  std::ifstream file(root + "/kit/resources/logo.png", std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

TEST(Logo, DecodesThePackagedPngAt96DpiAndRefusesWhatIsNoImage) {
  OffscreenTarget offscreen;
  ASSERT_TRUE(offscreen.target);
  std::vector<char> png = ReadKitLogo();
  ASSERT_FALSE(png.empty());
  ComPtr<ID2D1Bitmap> bitmap = DecodeLogo(offscreen.target.get(), png.data(), png.size());
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->GetPixelSize().width, 128u);
  EXPECT_EQ(bitmap->GetPixelSize().height, 128u);
  EXPECT_FLOAT_EQ(bitmap->GetSize().width, 128.0f);
  EXPECT_EQ(bitmap->GetPixelFormat().alphaMode, D2D1_ALPHA_MODE_PREMULTIPLIED);
  EXPECT_FALSE(DecodeLogo(offscreen.target.get(), png.data(), png.size() / 2));
  const char garbage[] = "\x89PNG\r\n\x1a\n but then nothing an image needs";
  EXPECT_FALSE(DecodeLogo(offscreen.target.get(), garbage, sizeof(garbage)));
  EXPECT_FALSE(DecodeLogo(offscreen.target.get(), garbage, 0));
  // A system module carries no resource 101.
  EXPECT_FALSE(LoadLogo(offscreen.target.get(), GetModuleHandleW(L"ntdll.dll")));
}
