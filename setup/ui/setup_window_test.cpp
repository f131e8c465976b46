#include "setup/ui/setup_window.h"

#include <gtest/gtest.h>

#include "setup/core/handles.h"
#include "setup/core/language.h"
#include "setup/core/progress.h"
#include "testing/engine_test_support.h"

namespace {

constexpr wchar_t kTestClass[] = L"VelmoraSetupWindowTest";

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
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = SetupWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kTestClass;
    RegisterClassExW(&windowClass);
    CreateWindowExW(0, kTestClass, L"title", WS_POPUP, 0, 0, 900, 640, nullptr, nullptr, GetModuleHandleW(nullptr),
                    &w);
    w.state = state;
  }
  ~TestWindow() {
    if (IsWindow(w.hwnd)) DestroyWindow(w.hwnd);
    DrainQueue();
    UseEnglish = savedEnglish;
  }
  bool Alive() const { return IsWindow(w.hwnd) != FALSE; }
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) { return SendMessageW(w.hwnd, message, wParam, lParam); }
  // Handles posted messages until the state leaves Working or time runs out.
  void PumpWhileWorking() {
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (w.state == UiState::Working && GetTickCount64() < deadline) {
      DrainQueue();
      Sleep(10);
    }
  }
};

}  // namespace

TEST(SetupWindow, CloseRuleByStateForEveryWayOfClosing) {
  struct Case {
    UiState state;
    bool closes;
    unsigned exitCode;
  };
  const Case cases[] = {{UiState::Ready, true, 1},
                        {UiState::Working, false, 1},
                        {UiState::Completed, true, 0},
                        {UiState::Failed, true, 2}};
  for (const Case& c : cases) {
    for (int way = 0; way < 3; ++way) {
      SCOPED_TRACE(testing::Message() << "state " << static_cast<int>(c.state) << ", way " << way);
      TestWindow t(c.state);
      if (way == 0) t.Send(WM_CLOSE);
      if (way == 1) t.Send(WM_KEYDOWN, VK_ESCAPE);
      if (way == 2) HandleClick(t.w, 866, 32);
      EXPECT_EQ(t.Alive(), !c.closes);
      EXPECT_EQ(t.w.exitCode, c.exitCode);
    }
  }
}

TEST(SetupWindow, TabMovesTheFocusRoundThePageAndEnterOrSpacePressesIt) {
  struct Case {
    UiState state;
    bool isUpdate;
    int tabs;
    bool shift;
    WPARAM press;  // 0: none
    HitTarget focus;
    bool closes;
    unsigned exitCode;
  };
  const Case cases[] = {
      {UiState::Ready, true, 2, false, 0, HitTarget::StartInstall, false, 1},  // an update has no "Change"
      {UiState::Completed, false, 2, false, VK_RETURN, HitTarget::Finish, true, 0},
      {UiState::Completed, false, 1, true, 0, HitTarget::OpenApplication, false, 1},
      {UiState::Failed, false, 5, false, VK_SPACE, HitTarget::CloseFailed, true, 2},  // round past the last
      {UiState::Working, false, 1, false, VK_RETURN, HitTarget::None, false, 1},
      {UiState::Working, false, 1, false, VK_SPACE, HitTarget::None, false, 1},
  };
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << static_cast<int>(c.state) << ", tabs " << c.tabs);
    TestWindow t(c.state);
    t.w.isUpdate = c.isUpdate;
    keys[VK_SHIFT] = c.shift ? 0x80 : 0;
    SetKeyboardState(keys);
    for (int i = 0; i < c.tabs; ++i) t.Send(WM_KEYDOWN, VK_TAB);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(FocusedControl(t.w), c.focus);
    if (c.press) t.Send(WM_KEYDOWN, c.press);
    t.Send(WM_KEYDOWN, 'A');
    EXPECT_EQ(t.Alive(), !c.closes);
    EXPECT_EQ(t.w.exitCode, c.exitCode);
  }
}

TEST(SetupWindow, SpaceOnTheFocusedLanguageSwitchChangesTheLanguageAndItsTextFormats) {
  TestWindow t(UiState::Ready);
  UseEnglish = true;
  ASSERT_TRUE(SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                            reinterpret_cast<IUnknown**>(t.w.renderer.dwriteFactory.put()))));
  ASSERT_TRUE(CreateTextFormats(t.w));
  t.Send(WM_KEYDOWN, VK_TAB);
  t.Send(WM_KEYDOWN, VK_SPACE);
  EXPECT_FALSE(UseEnglish);
  wchar_t title[8] = {};
  GetWindowTextW(t.w.hwnd, title, 8);
  EXPECT_STREQ(title, L"岫澜");
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
TEST(SetupWindow, AFrameAfterTheRenderTargetIsDroppedSucceeds) {
  ComApartment apartment(COINIT_APARTMENTTHREADED);
  SetupWindow w;
  w.installFolder = L"C:\\Program Files\\Velmora";
  ASSERT_TRUE(CreateSetupWindow(w, GetModuleHandleW(nullptr)));
  EXPECT_EQ(PaintWindow(w, 1000), S_OK);
  for (UiState state : {UiState::Ready, UiState::Completed}) {
    w.state = state;
    w.renderer.renderTarget.reset();
    EXPECT_EQ(PaintWindow(w, 2000), S_OK);
    EXPECT_EQ(PaintWindow(w, 2100), S_OK);
    EXPECT_TRUE(w.logoBitmap);
  }
  DestroyWindow(w.hwnd);
  DrainQueue();
}

TEST(SetupWindow, ProgressAndFinishedMessagesTakeTheirPayloads) {
  TestWindow t(UiState::Working);
  t.Send(ProgressMessage, 0, 0);
  EXPECT_TRUE(t.w.statusText.empty());
  t.Send(ProgressMessage, 0, reinterpret_cast<LPARAM>(new ProgressUpdate{L"Copying", 0.5}));
  EXPECT_EQ(t.w.statusText, L"Copying");
  EXPECT_DOUBLE_EQ(t.w.progress, 0.5);
  t.Send(ProgressMessage, 0, reinterpret_cast<LPARAM>(new ProgressUpdate{L"Back", 0.2}));
  EXPECT_DOUBLE_EQ(t.w.progress, 0.2);  // no monotony check
  t.Send(FinishedMessage, 0, 0);
  EXPECT_EQ(t.w.state, UiState::Failed);
  EXPECT_TRUE(t.w.errorText.empty());
  t.w.state = UiState::Working;
  t.Send(FinishedMessage, 0, reinterpret_cast<LPARAM>(new std::wstring(L"Disk full")));
  EXPECT_EQ(t.w.errorText, L"Disk full");
  t.w.state = UiState::Working;
  t.Send(FinishedMessage, 1, reinterpret_cast<LPARAM>(new std::wstring()));
  EXPECT_EQ(t.w.state, UiState::Completed);
  EXPECT_DOUBLE_EQ(t.w.progress, 1.0);
}

TEST(SetupWindow, CaptionStripDragsLeftOfTheLanguageSwitch) {
  TestWindow t(UiState::Ready);
  POINT origin{0, 0};
  ClientToScreen(t.w.hwnd, &origin);
  auto at = [&](int x, int y) { return t.Send(WM_NCHITTEST, 0, MAKELPARAM(origin.x + x, origin.y + y)); };
  EXPECT_EQ(at(100, 30), HTCAPTION);
  EXPECT_EQ(at(689, 57), HTCAPTION);
  EXPECT_EQ(at(690, 30), HTCLIENT);
  EXPECT_EQ(at(100, 58), HTCLIENT);
}

TEST(SetupWindow, RetryRestartsAtPreparingWithTheOldFailureCleared) {
  TestWindow t(UiState::Failed);
  UseEnglish = true;
  ScratchFolder occupied(L"velmora-window-test");  // refused: not empty
  ASSERT_TRUE(engine_test::WriteBytes(occupied / L"kept.txt", "kept"));
  t.w.installFolder = occupied.path();
  t.w.errorText = L"old failure";
  t.w.progress = 0.7;
  t.Send(WM_KEYDOWN, VK_RETURN);
  EXPECT_EQ(t.w.state, UiState::Working);
  EXPECT_DOUBLE_EQ(t.w.progress, 0.04);
  EXPECT_EQ(t.w.statusText, L"Preparing installation");
  EXPECT_TRUE(t.w.errorText.empty());
  StartInstall(t.w);  // a second start while working is ignored
  t.PumpWhileWorking();
  EXPECT_EQ(t.w.state, UiState::Failed);
  EXPECT_FALSE(t.w.errorText.empty());
  EXPECT_NE(t.w.errorText, L"old failure");
  // That failure refused the folder: trying again goes back to choosing one.
  t.Send(WM_KEYDOWN, VK_RETURN);
  EXPECT_EQ(t.w.state, UiState::Ready);
  EXPECT_TRUE(t.w.errorText.empty());
}
