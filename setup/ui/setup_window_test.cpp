#include "setup/ui/setup_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "setup/core/language.h"
#include "setup/core/progress.h"

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
  std::wstring Title() const {
    wchar_t text[64] = {};
    GetWindowTextW(w.hwnd, text, 64);
    return text;
  }
  // Handles posted messages until the state leaves Working or time runs out.
  void PumpWhileWorking() {
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (w.state == UiState::Working && GetTickCount64() < deadline) {
      DrainQueue();
      Sleep(10);
    }
  }
};

// A folder that the install refuses because it is not empty.
std::wstring NonEmptyFolder() {
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "velmora-window-test";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "occupied.txt") << "kept";
  return folder.wstring();
}

}  // namespace

TEST(SetupWindow, TrampolineBindsTheObjectToItsWindow) {
  TestWindow t(UiState::Ready);
  ASSERT_TRUE(t.Alive());
  EXPECT_EQ(reinterpret_cast<SetupWindow*>(GetWindowLongPtrW(t.w.hwnd, GWLP_USERDATA)), &t.w);
  EXPECT_EQ(t.Send(WM_ERASEBKGND), 1);
}

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

TEST(SetupWindow, EnterFinishesACompletedInstallAndIsIgnoredWhileWorking) {
  TestWindow completed(UiState::Completed);
  completed.Send(WM_KEYDOWN, VK_RETURN);
  EXPECT_FALSE(completed.Alive());
  EXPECT_EQ(completed.w.exitCode, 0u);
  TestWindow working(UiState::Working);
  working.Send(WM_KEYDOWN, VK_RETURN);
  working.Send(WM_KEYDOWN, 'A');
  EXPECT_TRUE(working.Alive());
  EXPECT_EQ(working.w.state, UiState::Working);
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

TEST(SetupWindow, LanguageSwitchSetsFlagAndTitleOnlyOnAChange) {
  TestWindow t(UiState::Ready);
  UseEnglish = true;
  HandleClick(t.w, 770, 30);
  EXPECT_EQ(t.Title(), L"title");  // already English: the title is not set again
  HandleClick(t.w, 720, 30);
  EXPECT_FALSE(UseEnglish);
  EXPECT_EQ(t.Title(), L"岫澜");
  t.w.state = UiState::Working;
  HandleClick(t.w, 770, 30);
  EXPECT_FALSE(UseEnglish);
  t.w.state = UiState::Failed;
  HandleClick(t.w, 744, 47);
  EXPECT_TRUE(UseEnglish);
  EXPECT_EQ(t.Title(), L"Velmora");
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

TEST(SetupWindow, PointerAndClicksAreScaledToDips) {
  TestWindow t(UiState::Ready);
  t.w.dpiScale = 1.5f;
  t.w.installFolder = NonEmptyFolder();
  t.Send(WM_MOUSEMOVE, 0, MAKELPARAM(1035, 748));
  EXPECT_FLOAT_EQ(t.w.pointerX, 690.0f);
  EXPECT_NEAR(t.w.pointerY, 498.667f, 1e-3);
  t.Send(WM_LBUTTONUP, 0, MAKELPARAM(1035, 748));
  EXPECT_EQ(t.w.state, UiState::Ready);
  t.Send(WM_LBUTTONUP, 0, MAKELPARAM(1035, 750));
  EXPECT_EQ(t.w.state, UiState::Working);
  t.PumpWhileWorking();
  EXPECT_EQ(t.w.state, UiState::Failed);
}

TEST(SetupWindow, RetryRestartsAtPreparingWithTheOldFailureCleared) {
  TestWindow t(UiState::Failed);
  UseEnglish = true;
  t.w.installFolder = NonEmptyFolder();
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
