#include "setup/core/paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "setup/core/text.h"
#include "testing/scratch_folder.h"

TEST(NormalizeFolderPath, RewritesDriveLetterFoldersAndRefusesTheRest) {
  const std::wstring longest = L"C:\\" + std::wstring(217, L'a');
  const struct {
    std::wstring input, expected;  // "" expected: refused
  } cases[] = {
      // PathsFuzz checks the form of every result; these are the spelling and the limits.
      {L"c:\\Mixed\\..\\Case\\.\\x\\\\y", L"c:\\Case\\x\\y"}, {longest, longest}, {longest + L"a", L""},
      {L"C:relative", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeFolderPath(c.input), c.expected) << WideToUtf8(c.input);
}

TEST(IsSafeInstallFolder, RefusesSystemAndWellKnownFoldersButNotTheirChildren) {
  std::wstring programFiles = ReadEnvironmentVariable(L"ProgramFiles");
  std::wstring profile = ReadEnvironmentVariable(L"USERPROFILE");
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  ASSERT_FALSE(programFiles.empty());
  ScratchFolder temp(L"velmora-paths");
  const std::wstring file = temp / L"file";
  CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  const struct {
    std::wstring folder;
    bool safe;
  } cases[] = {
      {programFiles, false}, {JoinPath(programFiles, L"Velmora"), true}, {windows, false},
      {JoinPath(windows, L"System32\\Velmora"), false}, {profile, false},
      {JoinPath(file, L"Velmora"), false},  // a file where a parent folder should be
      {temp / L"Velmora", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeInstallFolder(c.folder), c.safe) << WideToUtf8(c.folder);
  // The environment is read on every call.
  SetEnvironmentVariableW(L"ProgramData", temp.path().c_str());
  EXPECT_FALSE(IsSafeInstallFolder(temp.path()));
  SetEnvironmentVariableW(L"ProgramData", L"C:\\ProgramData");
  EXPECT_TRUE(IsSafeInstallFolder(temp.path()));
}
