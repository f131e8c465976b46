#include "setup/core/existing_install.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "setup/core/text.h"

TEST(DecideInstallMode, FollowsTheDecisionTable) {
  using O = InstallModeOutcome;
  struct Case {
    const wchar_t* location;
    const wchar_t* version;
    bool repair, update;
    O expected;
  } cases[] = {
      {L"", L"", false, false, O::Fresh}, {L"", L"1.0.1", false, false, O::Fresh},
      {L"", L"", true, false, O::NotInstalled}, {L"", L"", false, true, O::NotInstalled},
      {L"C:\\V", L"1.0.0", false, false, O::Update}, {L"C:\\V", L"0.9.9", false, true, O::Update},
      // An unreadable version counts as older: three numbers of 0-65535, nothing else.
      {L"C:\\V", L"garbage", false, false, O::Update}, {L"C:\\V", L"1.0", false, false, O::Update},
      {L"C:\\V", L"1.0.1.0", false, false, O::Update}, {L"C:\\V", L"1.0.1 ", false, false, O::Update},
      {L"C:\\V", L"1.0.65536", false, false, O::Update}, {L"C:\\V", L"1.0.0", true, false, O::Repair},
      {L"C:\\V", L"1.0.1", false, false, O::Repair}, {L"C:\\V", L"01.00.001", false, true, O::Repair},
      {L"C:\\V", L"1.0.2", false, false, O::NewerInstalled}, {L"C:\\V", L"1.1.0", false, false, O::NewerInstalled},
      // Each number read as the runtime reads it.
      {L"C:\\V", L" 1.+2.3", false, false, O::NewerInstalled},
      {L"C:\\V", L"65535.0.0", false, false, O::NewerInstalled},
      {L"C:\\V", L"2.0.0", true, false, O::NewerInstalled},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideInstallMode(c.location, c.version, c.repair, c.update), c.expected)
        << c.location << L" " << c.version << c.repair << c.update;
  }
}

TEST(DefaultInstallFolder, UsesProgramFilesOrItsUsualPlace) {
  std::wstring saved = ReadEnvironmentVariable(L"ProgramFiles");
  SetEnvironmentVariableW(L"ProgramFiles", L"D:\\Apps");
  EXPECT_EQ(DefaultInstallFolder(), L"D:\\Apps\\Velmora");
  SetEnvironmentVariableW(L"ProgramFiles", nullptr);
  EXPECT_EQ(DefaultInstallFolder(), L"C:\\Program Files\\Velmora");
  SetEnvironmentVariableW(L"ProgramFiles", saved.c_str());
}

// Expandable strings and the 32-bit view are end-to-end rows (dispatch_test).
TEST(ReadUninstallValue, ReadsOnlyPlainStringsUpTo1023Characters) {
  const DWORD number = 1;
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, L"Number", REG_DWORD, &number, sizeof(number)),
            ERROR_SUCCESS);
  for (const std::wstring& text : {std::wstring(1023, L'x'), std::wstring(1024, L'y')}) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, text.substr(0, 1).c_str(), REG_SZ, text.c_str(),
                    DWORD((text.size() + 1) * sizeof(wchar_t)));
  }
  EXPECT_EQ(ReadUninstallValue(L"x"), std::wstring(1023, L'x'));
  EXPECT_EQ(ReadUninstallValue(L"y") + ReadUninstallValue(L"Number") + ReadUninstallValue(L"Missing"), L"");
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, KEY_WOW64_64KEY, 0);
  EXPECT_EQ(ReadUninstallValue(L"x"), L"");
}
