#include "setup/ui/setup_window.h"

#include <gtest/gtest.h>

#include <tuple>

#include "setup/core/handles.h"
#include "setup/core/language.h"
#include "setup/core/progress.h"
#include "setup/ui/logo.h"

namespace {

void DrainQueue() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message != WM_QUIT) DispatchMessageW(&message);
  }
}

// A hidden window of the real procedure; it has no renderer, so frames draw nothing.
struct TestWindow {
  SetupWindow w;
  bool savedEnglish = UseEnglish;

  explicit TestWindow(UiState state) {
    const WNDCLASSEXW windowClass{sizeof(WNDCLASSEXW), 0, SetupWindowProc, 0, 0, GetModuleHandleW(nullptr), nullptr,
                                  nullptr, nullptr, nullptr, L"VelmoraSetupWindowTest", nullptr};
    RegisterClassExW(&windowClass);
    CreateWindowExW(0, windowClass.lpszClassName, L"title", WS_POPUP, 0, 0, 900, 640, nullptr, nullptr,
                    windowClass.hInstance, &w);
    w.state = state;
  }
  ~TestWindow() {
    if (IsWindow(w.hwnd)) DestroyWindow(w.hwnd);
    DrainQueue();
    UseEnglish = savedEnglish;
  }
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) { return SendMessageW(w.hwnd, message, wParam, lParam); }
};

}  // namespace

TEST(SetupWindow, CloseRuleByStateForEveryWayOfClosing) {
  // state, whether it closes, the exit code then
  const std::tuple<UiState, bool, unsigned> cases[] = {
      {UiState::Ready, true, 1}, {UiState::Working, false, 1}, {UiState::Completed, true, 0},
      {UiState::Failed, true, 2}};
  for (const auto& [state, closes, exitCode] : cases) {
    for (int way = 0; way < 3; ++way) {
      SCOPED_TRACE(testing::Message() << "state " << static_cast<int>(state) << ", way " << way);
      TestWindow t(state);
      if (way == 0) t.Send(WM_CLOSE);
      if (way == 1) t.Send(WM_KEYDOWN, VK_ESCAPE);
      if (way == 2) HandleClick(t.w, 866, 32);
      EXPECT_EQ(std::make_pair(!IsWindow(t.w.hwnd), t.w.exitCode), std::make_pair(closes, exitCode));
    }
  }
}

// Chinese drawn with the English fonts would still show under Wine: only the formats tell.
TEST(SetupWindow, SwitchingToChineseRemakesTheTextFormatsInChinese) {
  TestWindow t(UiState::Ready);
  UseEnglish = true;
  ASSERT_TRUE(SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                            reinterpret_cast<IUnknown**>(t.w.renderer.dwriteFactory.put()))));
  ASSERT_TRUE(CreateTextFormats(t.w));
  Activate(t.w, HitTarget::ChooseChinese);
  for (IDWriteTextFormat* format : {t.w.titleFormat.get(), t.w.headingFormat.get(), t.w.bodyFormat.get(),
                                    t.w.smallFormat.get(), t.w.buttonFormat.get()}) {
    wchar_t family[64] = {}, locale[16] = {};
    format->GetFontFamilyName(family, 64);
    format->GetLocaleName(locale, 16);
    EXPECT_STREQ(family, L"Microsoft YaHei UI");
    EXPECT_EQ(_wcsicmp(locale, L"zh-CN"), 0) << locale;
  }
}

// As when the device is lost: everything made on the old target must be made anew,
// the logo included, or every later frame fails.
TEST(SetupWindow, AFrameAfterTheRenderTargetIsDroppedSucceedsWithTheLogoAt96Dpi) {
  ComApartment apartment(COINIT_APARTMENTTHREADED);
  SetupWindow w;
  w.installFolder = L"C:\\Program Files\\Velmora";
  ASSERT_TRUE(CreateSetupWindow(w, GetModuleHandleW(nullptr)));  // the logo of ui_tests.rc
  EXPECT_EQ(PaintWindow(w, 1000), S_OK);
  for (UiState state : {UiState::Ready, UiState::Completed}) {
    w.state = state;
    w.renderer.renderTarget.reset();
    EXPECT_EQ(PaintWindow(w, 2000), S_OK);
    EXPECT_EQ(PaintWindow(w, 2100), S_OK);
    ASSERT_TRUE(w.logoBitmap);
  }
  EXPECT_FLOAT_EQ(w.logoBitmap->GetSize().width, 128.0f);  // its 128 pixels, whatever DPI the PNG names
  HRSRC png = FindResourceW(nullptr, MAKEINTRESOURCEW(LogoResourceId), RT_RCDATA);
  const void* bytes = LockResource(LoadResource(nullptr, png));
  EXPECT_FALSE(DecodeLogo(w.renderer.renderTarget.get(), bytes, SizeofResource(nullptr, png) / 2));
  DestroyWindow(w.hwnd);
  SetupWindow withoutLogo;  // a module without the logo: no window, exit code 4
  EXPECT_EQ(RunSetupWindow(withoutLogo, GetModuleHandleW(L"ntdll.dll")), 4);
  DrainQueue();
}

TEST(SetupWindow, DragsByTheCaptionStripAndTakesProgressAndFinishedPayloads) {
  TestWindow t(UiState::Working);
  POINT origin{0, 0};
  ClientToScreen(t.w.hwnd, &origin);
  EXPECT_EQ(t.Send(WM_NCHITTEST, 0, MAKELPARAM(origin.x + 689, origin.y + 57)), HTCAPTION);
  t.Send(ProgressMessage, 0, reinterpret_cast<LPARAM>(new ProgressUpdate{L"Copying", 0.5}));
  EXPECT_EQ(std::tie(t.w.statusText, t.w.progress), std::make_tuple(std::wstring(L"Copying"), 0.5));
  t.Send(FinishedMessage, 0, reinterpret_cast<LPARAM>(new std::wstring(L"Disk full")));
  EXPECT_EQ(std::tie(t.w.state, t.w.errorText), std::make_tuple(UiState::Failed, std::wstring(L"Disk full")));
}
