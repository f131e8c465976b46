#include "setup/engine/running_app.h"

#include <gtest/gtest.h>
#include <process.h>

#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

// A copy of the placeholder application the build makes, run under path until the owner goes.
struct RunningCopy {
  explicit RunningCopy(const std::wstring& path) {
    std::wstring placeholder = L"Z:" + ReadEnvironmentVariable(L"VELMORA_BUILD") + L"\\testapps\\Velmora.exe";
    for (wchar_t& c : placeholder) c = c == L'/' ? L'\\' : c;
    if (!CopyFileW(placeholder.c_str(), path.c_str(), FALSE)) return;
    const intptr_t spawned = _wspawnl(_P_NOWAIT, path.c_str(), path.c_str(), nullptr);
    if (spawned != -1) process.reset(reinterpret_cast<HANDLE>(spawned));
    if (process) WaitForInputIdle(process.get(), 10000);
  }
  ~RunningCopy() {
    if (!process) return;
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 10000);
  }
  UniqueHandle process;
};

}  // namespace

// The installed copy counting and a copy elsewhere not are seen end to end (install_test).
TEST(IsApplicationRunning, CountsTheApplicationByItsNameInAnyCaseAndOnlyFromThatFolder) {
  ScratchFolder renamed, capitals;
  RunningCopy otherName(renamed / L"VelmoraCopy.exe");
  RunningCopy inCapitals(capitals / L"VELMORA.EXE");
  ASSERT_TRUE(otherName.process && inCapitals.process);
  const auto inCapitalsFolder = IdentifyFolder(capitals.path()), renamedFolder = IdentifyFolder(renamed.path());
  ASSERT_TRUE(inCapitalsFolder && renamedFolder);
  EXPECT_TRUE(IsApplicationRunning(*inCapitalsFolder));
  EXPECT_FALSE(IsApplicationRunning(*renamedFolder));
}

// The uninstall tests check what goes and what stays in a full per-user folder.
TEST(RemoveUpdateCache, LeavesAFileNamedUpdatesRemovesAnEmptyBaseAndDoesNothingWithoutLocalAppData) {
  ScratchFolder local;
  const std::wstring base = local / L"Velmora";
  ASSERT_TRUE(EnsureDirectory(JoinPath(base, L"cache")));
  ASSERT_TRUE(WriteBytes(JoinPath(base, L"updates"), "not a folder"));
  const std::wstring saved = ReadEnvironmentVariable(L"LOCALAPPDATA");
  ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", local.path().c_str()));
  RemoveUpdateCache();
  EXPECT_EQ(ReadBytes(JoinPath(base, L"updates")), "not a folder");
  EXPECT_FALSE(PathExists(JoinPath(base, L"cache")));
  ASSERT_TRUE(DeleteFileW(JoinPath(base, L"updates").c_str()) && EnsureDirectory(JoinPath(base, L"updates")));
  RemoveUpdateCache();
  EXPECT_FALSE(PathExists(base));
  ASSERT_TRUE(EnsureDirectory(JoinPath(base, L"cache")));
  const std::filesystem::path cwd = std::filesystem::current_path();
  ASSERT_TRUE(SetCurrentDirectoryW(local.path().c_str()));  // a relative base would land here
  ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr));
  RemoveUpdateCache();
  EXPECT_TRUE(PathExists(JoinPath(base, L"cache")));
  std::filesystem::current_path(cwd);
  SetEnvironmentVariableW(L"LOCALAPPDATA", saved.c_str());
}
