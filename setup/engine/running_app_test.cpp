#include "setup/engine/running_app.h"

#include <gtest/gtest.h>

#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

// The placeholder application the build makes for the tests.
std::wstring PlaceholderApp() {
  std::wstring build = ReadEnvironmentVariable(L"VELMORA_BUILD");
  for (wchar_t& c : build) {
    if (c == L'/') c = L'\\';
  }
  return L"Z:" + build + L"\\testapps\\Velmora.exe";
}

// Runs a copy of the placeholder under the given path until the owner goes.
class RunningCopy {
 public:
  explicit RunningCopy(const std::wstring& path) {
    if (!CopyFileW(PlaceholderApp().c_str(), path.c_str(), FALSE)) return;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
      return;
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    WaitForInputIdle(process_.get(), 10000);
  }
  ~RunningCopy() {
    if (!process_) return;
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 10000);
  }
  bool started() const { return static_cast<bool>(process_); }

 private:
  UniqueHandle process_;
};

bool RunningFrom(const std::wstring& folder) {
  auto identity = IdentifyFolder(folder);
  return identity && IsApplicationRunning(*identity);
}

}  // namespace

TEST(IsApplicationRunning, CountsOnlyTheApplicationStartedFromThatFolder) {
  ScratchFolder installed, elsewhere, renamed, capitals;
  EXPECT_FALSE(RunningFrom(installed.path()));
  RunningCopy application(installed / L"Velmora.exe");
  RunningCopy sameNameElsewhere(elsewhere / L"Velmora.exe");
  RunningCopy otherName(renamed / L"VelmoraCopy.exe");
  RunningCopy inCapitals(capitals / L"VELMORA.EXE");
  ASSERT_TRUE(application.started() && sameNameElsewhere.started() && otherName.started() && inCapitals.started());
  ScratchFolder idle;
  EXPECT_TRUE(RunningFrom(installed.path()));
  EXPECT_TRUE(RunningFrom(capitals.path()));
  EXPECT_FALSE(RunningFrom(renamed.path()));
  EXPECT_FALSE(RunningFrom(idle.path()));
}

namespace {

// LOCALAPPDATA pointed at a scratch folder for one test.
class LocalAppData {
 public:
  explicit LocalAppData(const std::wstring& value) : old_(ReadEnvironmentVariable(L"LOCALAPPDATA")) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", value.empty() ? nullptr : value.c_str());
  }
  ~LocalAppData() { SetEnvironmentVariableW(L"LOCALAPPDATA", old_.empty() ? nullptr : old_.c_str()); }

 private:
  std::wstring old_;
};

}  // namespace

// The uninstall tests check what goes and what stays in a full per-user folder.
TEST(RemoveUpdateCache, LeavesAFileNamedUpdatesRemovesAnEmptyBaseAndDoesNothingWithoutLocalAppData) {
  ScratchFolder local;
  const std::wstring base = local / L"Velmora";
  ASSERT_TRUE(EnsureDirectory(JoinPath(base, L"cache")));
  ASSERT_TRUE(WriteBytes(JoinPath(base, L"updates"), "not a folder"));
  {
    LocalAppData redirected(local.path());
    RemoveUpdateCache();
    EXPECT_EQ(ReadBytes(JoinPath(base, L"updates")), "not a folder");
    EXPECT_FALSE(PathExists(JoinPath(base, L"cache")));
    ASSERT_TRUE(DeleteFileW(JoinPath(base, L"updates").c_str()) && EnsureDirectory(JoinPath(base, L"updates")));
    RemoveUpdateCache();
    EXPECT_FALSE(PathExists(base));
  }
  ASSERT_TRUE(EnsureDirectory(JoinPath(base, L"cache")));
  ASSERT_TRUE(SetCurrentDirectoryW(local.path().c_str()));  // a relative base would land here
  LocalAppData unset(L"");
  RemoveUpdateCache();
  EXPECT_TRUE(PathExists(JoinPath(base, L"cache")));
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  SetCurrentDirectoryW(temp);
}
