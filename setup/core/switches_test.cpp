#include "setup/core/switches.h"

#include <gtest/gtest.h>

#include "setup/core/language.h"
#include "setup/core/text.h"

TEST(HasSwitch, FoldsAsciiCaseOverTheWholeArgumentAtAnyPosition) {
  ArgumentList arguments{L"x", L"/UnInstall", L"/install-dir", L"/quiet"};
  EXPECT_TRUE(HasSwitch(arguments, L"/uninstall"));
  EXPECT_TRUE(HasSwitch(arguments, L"/quiet"));  // also where it stands as a value
  EXPECT_FALSE(HasSwitch({L"-uninstall", L"/uninstall:", L"/uninstall=1", L"uninstall"}, L"/uninstall"));
  // Only A-Z fold: a dotless capital I (U+0130) is not "i".
  EXPECT_FALSE(HasSwitch({L"/\u0130nstall-dir"}, L"/install-dir"));
}

// A switch-like value and a switch without one are end-to-end rows (dispatch_test).
TEST(FindSwitchValue, TakesTheArgumentAfterTheFirstMatch) {
  EXPECT_EQ(FindSwitchValue({L"/INSTALL-DIR", L"C:\\a", L"/install-dir", L"C:\\b"}, L"/install-dir"), L"C:\\a");
}

TEST(LocaleSelectsEnglish, EveryChineseLocaleAndAnUnreadableOneGiveChinese) {
  struct Case {
    const wchar_t* name;
    int result;
    bool english;
  } cases[] = {{L"zh-CN", 6, false}, {L"zh-TW", 6, false}, {L"zh-Hant-HK", 11, false}, {L"ZH-cn", 6, false},
               {L"en-US", 6, true},  {L"de-DE", 6, true},  {L"en-US", 0, false}};
  for (const auto& c : cases) EXPECT_EQ(LocaleSelectsEnglish(c.name, c.result), c.english) << c.name;
}
