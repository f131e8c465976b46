#include "setup/engine/stranded_backup.h"

#include <gtest/gtest.h>

#include <vector>

#include "setup/engine/installed_record.h"
#include "testing/engine_test_support.h"

using namespace engine_test;

// Only one backup with a record (an unfinished one has none) beside a missing folder is put back.
TEST(RestoreStrandedBackup, PutsBackOnlyAClearChoice) {
  const struct {
    const char* name;
    std::vector<std::wstring> tails;  // of backups with a record
    bool restored;
  } cases[] = {
      {"one candidate", {L"316-905"}, true},
      {"two candidates", {L"1-2", L"3-4"}, false},
      {"no candidate", {}, false},
      {"not a work-folder name", {L"1-x", L"old"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    const std::wstring folder = scratch / L"Velmora";
    ASSERT_TRUE(EnsureDirectory(folder + L".backup-316-906") && EnsureDirectory(folder + L".staging-316-904"));
    for (const std::wstring& tail : c.tails) {
      ASSERT_TRUE(EnsureDirectory(folder + L".backup-" + tail));
      ASSERT_TRUE(WriteBytes(JoinPath(folder + L".backup-" + tail, kInstalledRecordName), "record"));
    }
    EXPECT_EQ(RestoreStrandedBackup(folder), c.restored);
    EXPECT_EQ(PathExists(folder), c.restored);
    EXPECT_EQ(PathExists(JoinPath(folder, kInstalledRecordName)), c.restored);
    for (const std::wstring& tail : c.tails) EXPECT_NE(PathExists(folder + L".backup-" + tail), c.restored);
    EXPECT_TRUE(PathExists(folder + L".backup-316-906"));
  }
}
