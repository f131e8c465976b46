#include "setup/engine/install_transaction.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "setup/engine/installed_record.h"
#include "setup/engine/stranded_backup.h"
#include "testing/engine_test_support.h"

using namespace engine_test;

TEST(DeleteTree, RemovesWhatItCanAndReportsWhatItCouldNot) {
  ScratchFolder scratch;
  ASSERT_TRUE(WriteBytes(scratch / L"file", "kept"));
  EXPECT_TRUE(DeleteTree(scratch / L"file"));  // not a folder: left alone
  EXPECT_EQ(ReadBytes(scratch / L"file"), "kept");
  const std::wstring root = scratch / L"tree";
  ASSERT_TRUE(EnsureDirectory(JoinPath(root, L"a\\b\\c")) && EnsureDirectory(JoinPath(root, L"z")));
  const wchar_t* files[] = {L"top.txt", L"a\\locked.dat", L"a\\b\\c\\deep.bin", L"a\\held", L"z\\free"};
  for (const wchar_t* name : files) ASSERT_TRUE(WriteBytes(JoinPath(root, name), "x"));
  SetFileAttributesW(JoinPath(root, L"a\\locked.dat").c_str(),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesW(JoinPath(root, L"top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  {
    UniqueFile held(CreateFileW(JoinPath(root, L"a\\held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(DeleteTree(root));  // every other entry is still tried
    EXPECT_TRUE(PathExists(JoinPath(root, L"a\\held")));
    EXPECT_FALSE(PathExists(JoinPath(root, L"z")));
    EXPECT_FALSE(PathExists(JoinPath(root, L"a\\locked.dat")));
  }
  EXPECT_TRUE(DeleteTree(root));
  EXPECT_FALSE(PathExists(root));
}

// Neither taken for a stranded backup nor emptied when given as the folder to delete.
TEST(DeleteTree, AFolderLinkIsRemovedAsTheLinkAloneAndNeverPutBackAsABackup) {
  ScratchFolder scratch;
  const std::wstring target = scratch / L"target", link = scratch / L"Velmora.backup-1-2";
  ASSERT_TRUE(EnsureDirectory(JoinPath(target, L"sub")));
  ASSERT_TRUE(WriteBytes(JoinPath(target, L"sub\\kept.txt"), "kept"));
  ASSERT_TRUE(WriteBytes(JoinPath(target, kInstalledRecordName), "1001\tVelmora.exe\t15\tX\n"));
  _wsystem((L"mklink /J \"" + link + L"\" \"" + target + L"\" >NUL").c_str());  // no privilege needed
  const DWORD attributes = GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "this system cannot make junctions (Wine): the uninstall tests cover Unix symlinks";
  }
  EXPECT_FALSE(RestoreStrandedBackup(scratch / L"Velmora"));
  EXPECT_FALSE(PathExists(scratch / L"Velmora"));
  EXPECT_TRUE(DeleteTree(link));
  EXPECT_FALSE(PathExists(link));
  EXPECT_EQ(ReadBytes(JoinPath(target, L"sub\\kept.txt")), "kept");
}
