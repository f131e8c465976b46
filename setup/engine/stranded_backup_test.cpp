#include "setup/engine/stranded_backup.h"

#include <gtest/gtest.h>

#include "setup/engine/installed_record.h"
#include "testing/engine_test_support.h"

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

// Only one backup with a record (an unfinished one has none) beside a missing folder is put back.
TEST(RestoreStrandedBackup, PutsBackOnlyAClearChoice) {
  struct Case {
    const char* name;
    const wchar_t* tails[2];  // backups with a record
    bool restored;
  };
  const Case cases[] = {
      {"one candidate", {L"316-905", nullptr}, true},
      {"two candidates", {L"1-2", L"3-4"}, false},
      {"no candidate", {nullptr, nullptr}, false},
      {"not a work-folder name", {L"1-x", L"old"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    const std::wstring folder = scratch / L"Velmora";
    for (const wchar_t* tail : c.tails) {
      if (tail) MakeBackup(folder, tail, true);
    }
    MakeBackup(folder, L"316-906", false);
    EnsureDirectory(folder + L".staging-316-904");
    EXPECT_EQ(RestoreStrandedBackup(folder), c.restored);
    EXPECT_EQ(PathExists(JoinPath(folder, kInstalledRecordName)), c.restored);
    EXPECT_EQ(PathExists(folder), c.restored);
    for (const wchar_t* tail : c.tails) {
      if (tail) EXPECT_NE(PathExists(folder + L".backup-" + tail), c.restored);
    }
    EXPECT_TRUE(PathExists(folder + L".backup-316-906"));
  }
}
