#include "setup/engine/install_transaction.h"

#include <gtest/gtest.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

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

namespace {

// A junction from link to target; false where the system cannot make one (Wine).
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  UniqueFile handle(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const std::wstring substitute = L"\\??\\" + target;
  const USHORT substituteBytes = USHORT(substitute.size() * sizeof(wchar_t));
  // REPARSE_DATA_BUFFER's mount-point form: tag, sizes, offsets, then both names.
  std::vector<BYTE> buffer(8 + 8 + substituteBytes + 2 * sizeof(wchar_t), 0);
  auto words = reinterpret_cast<USHORT*>(buffer.data());
  *reinterpret_cast<DWORD*>(buffer.data()) = IO_REPARSE_TAG_MOUNT_POINT;
  words[2] = USHORT(buffer.size() - 8);
  words[4] = 0;
  words[5] = substituteBytes;
  words[6] = USHORT(substituteBytes + sizeof(wchar_t));
  words[7] = 0;
  memcpy(buffer.data() + 16, substitute.data(), substituteBytes);
  DWORD returned = 0;
  return handle && DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(), DWORD(buffer.size()),
                                   nullptr, 0, &returned, nullptr);
}

}  // namespace

// Neither taken for a stranded backup nor emptied when given as the folder to delete.
TEST(DeleteTree, AFolderLinkIsRemovedAsTheLinkAloneAndNeverPutBackAsABackup) {
  ScratchFolder scratch;
  const std::wstring target = scratch / L"target", link = scratch / L"Velmora.backup-1-2";
  ASSERT_TRUE(EnsureDirectory(JoinPath(target, L"sub")));
  ASSERT_TRUE(WriteBytes(JoinPath(target, L"sub\\kept.txt"), "kept"));
  ASSERT_TRUE(WriteBytes(JoinPath(target, kInstalledRecordName), "1001\tVelmora.exe\t15\tX\n"));
  if (!MakeJunction(link, target)) {
    GTEST_SKIP() << "this system cannot make junctions (Wine): the uninstall tests cover Unix symlinks";
  }
  EXPECT_FALSE(RestoreStrandedBackup(scratch / L"Velmora"));
  EXPECT_FALSE(PathExists(scratch / L"Velmora"));
  EXPECT_TRUE(DeleteTree(link));
  EXPECT_FALSE(PathExists(link));
  EXPECT_EQ(ReadBytes(JoinPath(target, L"sub\\kept.txt")), "kept");
}
