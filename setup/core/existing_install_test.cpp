#include "setup/core/existing_install.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "setup/core/text.h"

TEST(DecideInstallMode, FollowsTheDecisionTable) {
  using O = InstallModeOutcome;
  struct Case {
    const wchar_t* location;
    const wchar_t* version;
    bool repair, update;
    O expected;
  } cases[] = {
      {L"", L"", false, false, O::Fresh},
      {L"", L"1.0.1", false, false, O::Fresh},
      {L"", L"", true, false, O::NotInstalled},
      {L"", L"", false, true, O::NotInstalled},
      {L"C:\\V", L"1.0.0", false, false, O::Update},
      {L"C:\\V", L"0.9.9", false, true, O::Update},
      {L"C:\\V", L"garbage", false, false, O::Update},
      // An unreadable version counts as older: three numbers of 0-65535, nothing else.
      {L"C:\\V", L"", false, false, O::Update},
      {L"C:\\V", L"1.0", false, false, O::Update},
      {L"C:\\V", L"1.0.1.0", false, false, O::Update},
      {L"C:\\V", L"1..1", false, false, O::Update},
      {L"C:\\V", L"1.0.1 ", false, false, O::Update},
      {L"C:\\V", L"1.0.1x", false, false, O::Update},
      {L"C:\\V", L"1.-1.0", false, false, O::Update},
      {L"C:\\V", L"1.0.65536", false, false, O::Update},
      {L"C:\\V", L"1.0.0", true, false, O::Repair},
      {L"C:\\V", L"1.0.1", false, false, O::Repair},
      {L"C:\\V", L"01.00.001", false, true, O::Repair},
      {L"C:\\V", L"1.0.2", false, false, O::NewerInstalled},
      {L"C:\\V", L"1.1.0", false, false, O::NewerInstalled},
      {L"C:\\V", L" 1.+2.3", false, false, O::NewerInstalled},  // each number read as the runtime reads it
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

TEST(ReadUninstallValue, ReadsOnlyPlainStringsOfThe64BitView) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  auto set = [&](const wchar_t* name, DWORD type, const std::wstring& text) {
    RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD((text.size() + 1) * sizeof(wchar_t)));
  };
  set(L"Plain", REG_SZ, L"C:\\Apps\\Velmora");
  set(L"Expandable", REG_EXPAND_SZ, L"C:\\Apps");
  set(L"Longest", REG_SZ, std::wstring(1023, L'x'));
  set(L"TooLong", REG_SZ, std::wstring(1024, L'x'));
  DWORD number = 1;
  RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
  EXPECT_EQ(ReadUninstallValue(L"Plain"), L"C:\\Apps\\Velmora");
  EXPECT_EQ(ReadUninstallValue(L"Expandable"), L"");
  EXPECT_EQ(ReadUninstallValue(L"Longest").size(), 1023u);
  EXPECT_EQ(ReadUninstallValue(L"TooLong"), L"");
  EXPECT_EQ(ReadUninstallValue(L"Number"), L"");
  EXPECT_EQ(ReadUninstallValue(L"Missing"), L"");
  RegCloseKey(key);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, KEY_WOW64_64KEY, 0);
  EXPECT_EQ(ReadUninstallValue(L"Plain"), L"");
}
