#include "setup/engine/stranded_backup.h"

#include <gtest/gtest.h>

#include "setup/engine/engine_test_support.h"
#include "setup/engine/installed_record.h"

using namespace engine_test;

namespace {

// A backup-named sibling of folder; with a record when asked.
std::wstring MakeBackup(const std::wstring& folder, const std::wstring& tail, bool withRecord) {
  const std::wstring backup = folder + L".backup-" + tail;
  EnsureDirectory(backup);
  WriteBytes(JoinPath(backup, L"Velmora.exe"), "old application");
  if (withRecord) WriteBytes(JoinPath(backup, kInstalledRecordName), "1001\tVelmora.exe\t15\tX\n");
  return backup;
}

}  // namespace

TEST(RestoreStrandedBackup, PutsTheOnlyBackupWithARecordBack) {
  ScratchFolder scratch;
  const std::wstring folder = scratch / L"Velmora";
  const std::wstring backup = MakeBackup(folder, L"316-905", true);
  MakeBackup(folder, L"316-906", false);  // no record: an unfinished one, not a candidate
  EnsureDirectory(folder + L".staging-316-904");
  EXPECT_TRUE(RestoreStrandedBackup(folder));
  EXPECT_EQ(ReadBytes(JoinPath(folder, L"Velmora.exe")), "old application");
  EXPECT_TRUE(PathExists(JoinPath(folder, kInstalledRecordName)));
  EXPECT_FALSE(PathExists(backup));
  EXPECT_TRUE(PathExists(folder + L".backup-316-906"));
}

TEST(RestoreStrandedBackup, LeavesEverythingWhenTheChoiceIsNotClear) {
  struct Case {
    const char* name;
    bool folderExists;
    const wchar_t* tails[2];
  };
  const Case cases[] = {
      {"folder present", true, {L"1-2", nullptr}},
      {"two candidates", false, {L"1-2", L"3-4"}},
      {"no candidate", false, {nullptr, nullptr}},
      {"not a work-folder name", false, {L"1-x", L"old"}},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch;
    const std::wstring folder = scratch / L"Velmora";
    if (c.folderExists) EnsureDirectory(folder);
    for (const wchar_t* tail : c.tails) {
      if (tail) MakeBackup(folder, tail, true);
    }
    EXPECT_FALSE(RestoreStrandedBackup(folder)) << c.name;
    EXPECT_EQ(PathExists(folder), c.folderExists) << c.name;
    for (const wchar_t* tail : c.tails) {
      if (tail) {
        EXPECT_TRUE(PathExists(folder + L".backup-" + tail)) << c.name;
      }
    }
  }
}

TEST(RestoreStrandedBackup, ABackupThatIsALinkIsNotFollowed) {
  ScratchFolder scratch;
  const std::wstring folder = scratch / L"Velmora";
  const std::wstring elsewhere = MakeBackup(scratch / L"Elsewhere", L"1-2", true);
  if (!CreateSymbolicLinkW((folder + L".backup-1-2").c_str(), elsewhere.c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "directory links cannot be made here";
  }
  EXPECT_FALSE(RestoreStrandedBackup(folder));
  EXPECT_FALSE(PathExists(folder));
  RemoveDirectoryW((folder + L".backup-1-2").c_str());
}
