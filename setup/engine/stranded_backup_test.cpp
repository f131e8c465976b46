#include "setup/engine/stranded_backup.h"

#include <gtest/gtest.h>

#include "setup/core/existing_install.h"
#include "setup/core/language.h"
#include "setup/engine/installed_record.h"
#include "setup/engine/registration.h"
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

// Resource 1001 of this test program and its digest.
constexpr wchar_t kDigest[] = L"E798DD26964403CE27304D239928E5B45DC415E26BDBB0F98EF2ADAE17559FE8";
constexpr wchar_t kRuntimeKey[] =
    L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App\\8.0.11";

bool ReadOneFilePackage(std::vector<PayloadEntry>& entries, std::wstring& text) {
  entries = {PayloadEntry{1001, L"Velmora.exe", 21, kDigest}};
  text = std::wstring(L"1001\tVelmora.exe\t21\t") + kDigest + L"\n";
  return true;
}

// An update whose registered folder went missing in the middle of an earlier swap.
class StrandedUpdate : public testing::Test {
 protected:
  void SetUp() override {
    UniqueRegKey runtime;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRuntimeKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                    runtime.put(), nullptr);
    engineCalls.readPayloadManifest = ReadOneFilePackage;
    ASSERT_TRUE(RegisterUninstallEntry(folder_, L"1.0.0"));
  }
  void TearDown() override {
    DeleteUninstallEntry();
    RemoveShortcuts();
  }
  InjectedFaults faults_;
  ComApartment com_{COINIT_APARTMENTTHREADED};
  ScratchFolder scratch_;
  std::wstring folder_ = scratch_ / L"Velmora";
};

}  // namespace

TEST_F(StrandedUpdate, AnotherFolderIsRefusedAndTheNextUpdatePutsTheBackupBackAndReplacesIt) {
  const std::wstring backup = MakeBackup(folder_, L"316-905", true);
  // A killed run's staging folder goes too.
  ASSERT_TRUE(EnsureDirectory(folder_ + L".staging-12-34\\data"));
  ASSERT_TRUE(WriteBytes(folder_ + L".staging-12-34\\data\\part.bin", "partial"));
  std::wstring message;
  UseEnglish = true;
  EXPECT_FALSE(InstallPackage(scratch_ / L"Other", nullptr, message));
  EXPECT_EQ(message, L"Uninstall the existing copy before choosing another folder.");
  EXPECT_TRUE(PathExists(backup));
  EXPECT_FALSE(PathExists(folder_));
  EXPECT_TRUE(InstallPackage(folder_, nullptr, message)) << WideToUtf8(message);
  EXPECT_EQ(ReadBytes(JoinPath(folder_, L"Velmora.exe")), "Velmora test payload\n");
  EXPECT_FALSE(PathExists(backup));
  EXPECT_FALSE(PathExists(folder_ + L".staging-12-34"));
  EXPECT_EQ(ReadUninstallValue(L"DisplayVersion"), kProductVersion);
}

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
