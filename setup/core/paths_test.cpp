#include "setup/core/paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "setup/core/text.h"
#include "testing/scratch_folder.h"

namespace {

struct Case {
  const wchar_t* input;
  const wchar_t* expected;
};

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

}  // namespace

TEST(NormalizeFolderPath, AcceptsAndRewritesDriveLetterFolders) {
  const Case cases[] = {
      {L"C:\\Program Files\\", L"C:\\Program Files"},
      {L"C:/a/b", L"C:\\a\\b"},
      {L"C:\\a\\..\\b", L"C:\\b"},
      {L"c:\\Mixed\\Case", L"c:\\Mixed\\Case"},
      {L"C:\\a\\\\b", L"C:\\a\\b"},
      {L"C:\\a\\.\\b\\\\", L"C:\\a\\b"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeFolderPath(c.input), c.expected) << c.input;
}

TEST(NormalizeFolderPath, RefusesRootsRelativeUncAndOverlongPaths) {
  const wchar_t* refused[] = {L"C:\\", L"C:", L"C:/", L"C:\\a\\..", L"\\\\server\\share\\x",
                              L"relative\\folder", L"abc", L"C:relative"};
  for (const wchar_t* path : refused) EXPECT_EQ(NormalizeFolderPath(path), L"") << path;
  std::wstring longest = L"C:\\" + Repeat(L'a', 217);
  EXPECT_EQ(NormalizeFolderPath(longest), longest);
  EXPECT_EQ(NormalizeFolderPath(longest + L"a"), L"");
}

TEST(IsValidRelativePath, FollowsThePackagedPathRules) {
  const wchar_t* accepted[] = {L"a\\b.dll", L"a/b.dll", L"x", L"a/b/c.txt", L"..a", L"a..b"};
  for (const wchar_t* path : accepted) EXPECT_TRUE(IsValidRelativePath(path)) << path;
  const wchar_t* refused[] = {L"",       L"\\a",    L"a\\",   L"/a",     L"a/",     L"a\\\\b", L"..\\a",
                              L"a\\.\\b", L"a.",     L"a ",    L"c:x",    L"a?b",    L"a*b",    L"a<b",
                              L"a>b",    L"a|b",    L"a\"b",  L"a\tb",   L".",      L"..",     L"a\\..\\b",
                              L"a/\\b", L"a/../b", L"a.\\b", L"a \\b", L"a\rb"};
  for (const wchar_t* path : refused) EXPECT_FALSE(IsValidRelativePath(path)) << path;
  EXPECT_TRUE(IsValidRelativePath(Repeat(L'a', 240)));
  EXPECT_FALSE(IsValidRelativePath(Repeat(L'a', 241)));
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
      {programFiles, false},
      {programFiles + L"\\", false},
      {JoinPath(programFiles, L"Velmora"), true},
      {windows, false},
      {JoinPath(windows, L"System32\\Velmora"), false},
      {profile, false},
      {JoinPath(profile, L"Apps\\Velmora"), true},
      {L"C:\\does\\not\\exist\\at\\all", true},
      {L"C:\\", false},
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

TEST(ResolveInsideFolder, ResolvesStrictlyInsideAndClearsTheOutputOnRefusal) {
  std::wstring out = L"untouched";
  EXPECT_TRUE(ResolveInsideFolder(L"C:\\Apps\\Velmora\\", L"bin/x.dll", out));
  EXPECT_EQ(out, L"C:\\Apps\\Velmora\\bin\\x.dll");
  out = L"untouched";
  EXPECT_FALSE(ResolveInsideFolder(L"C:\\", L"x", out));
  EXPECT_EQ(out, L"untouched");
  EXPECT_FALSE(ResolveInsideFolder(L"C:\\Apps", L"..\\x", out));
  EXPECT_EQ(out, L"untouched");
}
