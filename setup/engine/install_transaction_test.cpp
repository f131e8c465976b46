#include "setup/engine/install_transaction.h"

#include <gtest/gtest.h>

#include "testing/engine_test_support.h"

using namespace engine_test;

TEST(MakeWorkFolderPath, AppendsSuffixProcessIdAndTickCount) {
  const std::wstring prefix = L"C:\\Program Files\\Velmora.staging-" + DecimalText(GetCurrentProcessId()) + L"-";
  const ULONGLONG before = GetTickCount64();
  const std::wstring path = MakeWorkFolderPath(L"C:\\Program Files\\Velmora", L".staging");
  const ULONGLONG after = GetTickCount64();
  ASSERT_EQ(path.compare(0, prefix.size(), prefix), 0) << WideToUtf8(path);
  const auto tick = ReadUnsigned64(path.substr(prefix.size()), true);
  ASSERT_TRUE(tick.has_value());
  EXPECT_GE(*tick, before);
  EXPECT_LE(*tick, after);
  EXPECT_NE(path.substr(prefix.size(), 1), L"0");
}

TEST(DeleteTree, RemovesNestedFoldersAndReadOnlyHiddenSystemFiles) {
  ScratchFolder scratch;
  const std::wstring root = scratch / L"tree";
  ASSERT_TRUE(EnsureDirectory(JoinPath(root, L"a\\b\\c")) && EnsureDirectory(JoinPath(root, L"empty")));
  const wchar_t* files[] = {L"top.txt", L"a\\locked.dat", L"a\\b\\c\\deep.bin"};
  for (const wchar_t* name : files) ASSERT_TRUE(WriteBytes(JoinPath(root, name), "x"));
  SetFileAttributesW(JoinPath(root, L"a\\locked.dat").c_str(),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesW(JoinPath(root, L"top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(DeleteTree(root));
  EXPECT_FALSE(PathExists(root));
}

TEST(DeleteTree, AMissingPathOrAFileIsLeftAloneAndCountsAsDone) {
  ScratchFolder scratch;
  EXPECT_TRUE(DeleteTree(scratch / L"missing"));
  ASSERT_TRUE(WriteBytes(scratch / L"file", "kept"));
  EXPECT_TRUE(DeleteTree(scratch / L"file"));
  EXPECT_EQ(ReadBytes(scratch / L"file"), "kept");
}

TEST(DeleteTree, TriesEveryEntryAndReportsAFileItCouldNotDelete) {
  ScratchFolder scratch;
  const std::wstring root = scratch / L"tree";
  ASSERT_TRUE(EnsureDirectory(JoinPath(root, L"a")) && EnsureDirectory(JoinPath(root, L"z")));
  ASSERT_TRUE(WriteBytes(JoinPath(root, L"a\\held"), "x"));
  ASSERT_TRUE(WriteBytes(JoinPath(root, L"z\\free"), "y"));
  {
    UniqueFile held(CreateFileW(JoinPath(root, L"a\\held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(DeleteTree(root));
    EXPECT_TRUE(PathExists(JoinPath(root, L"a\\held")));
    EXPECT_FALSE(PathExists(JoinPath(root, L"z")));
  }
  EXPECT_TRUE(DeleteTree(root));
}
