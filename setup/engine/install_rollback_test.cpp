// InstallPackage run in-process against packages fed to the real extraction, with the
// rare failures injected, watching the progress a window would receive.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "setup/core/existing_install.h"
#include "setup/core/language.h"
#include "setup/core/progress.h"
#include "setup/engine/installed_record.h"
#include "setup/engine/registration.h"
#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

// Resource 1001 of this test program and its digest.
constexpr char kPayload[] = "Velmora test payload\n";
constexpr wchar_t kDigest[] = L"E798DD26964403CE27304D239928E5B45DC415E26BDBB0F98EF2ADAE17559FE8";
constexpr wchar_t kRuntimeKey[] =
    L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App\\8.0.11";

std::vector<PayloadEntry> packageEntries;
std::wstring packageText;

bool ReadTestPackage(std::vector<PayloadEntry>& entries, std::wstring& text) {
  entries = packageEntries;
  text = packageText;
  return !entries.empty();
}

// n files of resource 1001; the one at badIndex carries a wrong digest.
void UsePackage(size_t count, size_t badIndex = SIZE_MAX) {
  packageEntries.clear();
  packageText.clear();
  for (size_t i = 0; i < count; ++i) {
    std::wstring path = i == 0 ? L"Velmora.exe" : L"data/file" + DecimalText(i) + L".txt";
    std::wstring digest = i == badIndex ? std::wstring(64, L'0') : kDigest;
    packageEntries.push_back(PayloadEntry{1001, path, sizeof(kPayload) - 1, digest});
    packageText += L"1001\t" + path + L"\t21\t" + digest + L"\r\n";
  }
}

struct Progress {
  std::wstring text;
  double fraction;
};

// A message-only window that receives the progress; Take hands the records back in order.
struct ProgressSink {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ~ProgressSink() {
    Take();
    DestroyWindow(window);
  }
  const HWND* target() const { return &window; }
  std::vector<Progress> Take() {
    std::vector<Progress> seen;
    MSG message;
    while (PeekMessageW(&message, window, ProgressMessage, ProgressMessage, PM_REMOVE)) {
      std::unique_ptr<ProgressUpdate> update(reinterpret_cast<ProgressUpdate*>(message.lParam));
      seen.push_back({update->text, update->fraction});
    }
    return seen;
  }
};

// Registration of the new version fails; a file of the new package is held first when asked.
std::wstring holdOnFailure;
UniqueFile heldFile;
LSTATUS RefuseTheNewVersion(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (wcscmp(name, L"DisplayVersion") == 0 && wcscmp(reinterpret_cast<const wchar_t*>(data), L"1.0.1") == 0) {
    if (!holdOnFailure.empty()) {
      heldFile.reset(CreateFileW(holdOnFailure.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    }
    return ERROR_ACCESS_DENIED;
  }
  return RegSetValueExW(key, name, reserved, type, data, size);
}

class InstallPackageTest : public testing::Test {
 protected:
  void SetUp() override {
    UniqueRegKey runtime;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRuntimeKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                    runtime.put(), nullptr);
    DeleteUninstallEntry();
    RemoveShortcuts();
    engineCalls.readPayloadManifest = ReadTestPackage;
    UsePackage(4);
  }
  void TearDown() override {
    DeleteUninstallEntry();
    RemoveShortcuts();
    UseEnglish = true;
  }

  // An installation of an older version with a file the application made.
  void MakeOldInstallation() {
    ASSERT_TRUE(EnsureDirectory(folder_));
    ASSERT_TRUE(WriteBytes(JoinPath(folder_, L"Velmora.exe"), "old application"));
    ASSERT_TRUE(WriteBytes(JoinPath(folder_, L"made-by-the-app.db"), "user data"));
    ASSERT_TRUE(RegisterUninstallEntry(folder_, L"1.0.0"));
    ASSERT_TRUE(CreateShortcuts(folder_));
  }
  void ExpectOldInstallation() {
    EXPECT_EQ(ReadBytes(JoinPath(folder_, L"Velmora.exe")), "old application");
    EXPECT_EQ(ReadBytes(JoinPath(folder_, L"made-by-the-app.db")), "user data");
    EXPECT_EQ(ReadUninstallValue(L"DisplayVersion"), L"1.0.0");
    EXPECT_EQ(ReadUninstallValue(L"InstallLocation"), folder_);
    EXPECT_FALSE(PathExists(JoinPath(folder_, kInstalledRecordName)));
  }
  void ExpectNothingInstalled() {
    EXPECT_FALSE(PathExists(folder_));
    EXPECT_EQ(ReadUninstallValue(L"InstallLocation"), L"");
    EXPECT_EQ(MachineValueType(kUninstallKeyPath, L"DisplayName"), 0u);
  }
  // Staging or backup folders left beside the installation folder.
  std::vector<std::wstring> WorkFolders() {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW((scratch_ / L"Velmora*").c_str(), &data));
    if (!find) return found;
    do {
      if (wcscmp(data.cFileName, L"Velmora") != 0) found.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    return found;
  }

  InjectedFaults faults_;
  ComApartment com_{COINIT_APARTMENTTHREADED};
  ScratchFolder scratch_;
  std::wstring folder_ = scratch_ / L"Velmora";
  std::wstring message_ = L"untouched";
};

double FileFraction(size_t i, size_t n) { return 0.40 + 0.42 * static_cast<double>(i) / static_cast<double>(n); }

}  // namespace

TEST_F(InstallPackageTest, PostsEachFileThenFinishingInEitherLanguageAndInstallsEverything) {
  for (bool english : {true, false}) {  // the second round is a repair
    UseEnglish = english;
    ProgressSink sink;
    ASSERT_TRUE(InstallPackage(folder_, sink.target(), message_)) << WideToUtf8(message_);
    EXPECT_EQ(message_, L"untouched");
    const auto seen = sink.Take();
    ASSERT_EQ(seen.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(seen[i].text, english ? L"Verifying and installing program files" : L"正在校验并安装程序文件");
      EXPECT_DOUBLE_EQ(seen[i].fraction, FileFraction(i, 4));
    }
    EXPECT_EQ(seen[4].text, english ? L"Finishing installation" : L"正在完成安装");
    EXPECT_DOUBLE_EQ(seen[4].fraction, 0.94);
    EXPECT_EQ(ReadBytes(JoinPath(folder_, L"data\\file3.txt")), kPayload);
    EXPECT_EQ(ReadBytes(JoinPath(folder_, kInstalledRecordName)), WideToUtf8(packageText));
    EXPECT_EQ(ReadUninstallValue(L"DisplayVersion"), L"1.0.1");
    EXPECT_TRUE(WorkFolders().empty());
  }
}

TEST_F(InstallPackageTest, AThirdFileWithAWrongDigestStopsWithTwoStagedAndRemovesTheStaging) {
  UsePackage(5, 2);
  ProgressSink sink;
  EXPECT_FALSE(InstallPackage(folder_, sink.target(), message_));
  EXPECT_EQ(message_, L"A packaged file failed verification.");
  const auto seen = sink.Take();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_DOUBLE_EQ(seen.back().fraction, FileFraction(2, 5));
  EXPECT_TRUE(WorkFolders().empty());
  ExpectNothingInstalled();
}

namespace {
const wchar_t* failingPath;  // a rename on a path holding this fails, so does creating a file it ends
}

TEST_F(InstallPackageTest, AFailedRenameOrRecordLeavesWhatWasThereBefore) {
  struct Case {
    bool update;
    const wchar_t* failing;
    const wchar_t* english;
    const wchar_t* chinese;
  };
  const Case cases[] = {
      {false, L".staging-", L"Installation was rolled back after a file error.", L"写入失败，安装已回滚。"},
      {true, L".backup-", L"The existing installation could not be replaced.", L"无法替换现有安装。"},
      {true, L".staging-", L"Installation was rolled back after a file error.", L"写入失败，安装已回滚。"},
      {true, L"\\.install-manifest", L"The uninstaller could not be prepared.", L"无法准备卸载程序。"},
  };
  engineCalls.moveFile = [](LPCWSTR from, LPCWSTR to, DWORD flags) -> BOOL {
    EXPECT_EQ(flags, static_cast<DWORD>(MOVEFILE_WRITE_THROUGH));
    return wcsstr(from, failingPath) || wcsstr(to, failingPath) ? FALSE : MoveFileExW(from, to, flags);
  };
  engineCalls.createFile = [](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) -> HANDLE {
    const size_t length = wcslen(path), tail = wcslen(failingPath);
    if (length >= tail && wcscmp(path + length - tail, failingPath) == 0) return INVALID_HANDLE_VALUE;
    return CreateFileW(path, access, share, security, disposition, flags, templateFile);
  };
  for (const Case& c : cases) {
    for (bool english : {true, false}) {
      SCOPED_TRACE(WideToUtf8(c.failing) + (c.update ? " update" : " fresh"));
      if (c.update) MakeOldInstallation();
      UseEnglish = english;
      failingPath = c.failing;
      EXPECT_FALSE(InstallPackage(folder_, nullptr, message_));
      EXPECT_EQ(message_, english ? c.english : c.chinese);
      if (c.update) {
        ExpectOldInstallation();
      } else {
        ExpectNothingInstalled();
      }
      EXPECT_TRUE(WorkFolders().empty());
    }
  }
}

TEST_F(InstallPackageTest, ARegistrationFailureOnAnUpdateRestoresTheOldInstallation) {
  MakeOldInstallation();
  RemoveShortcuts();
  UseEnglish = false;
  holdOnFailure.clear();
  engineCalls.setRegistryValue = RefuseTheNewVersion;
  EXPECT_FALSE(InstallPackage(folder_, nullptr, message_));
  EXPECT_EQ(message_, L"注册失败，安装已回滚。");
  ExpectOldInstallation();
  EXPECT_TRUE(WorkFolders().empty());
  wchar_t programs[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, programs)));
  EXPECT_TRUE(PathExists(JoinPath(programs, L"岫澜.lnk")));  // recreated for the old folder
}

// A file of the new package that cannot be deleted must not keep the old installation
// out of its folder. Held open here, which Wine lets the folder rename past; Windows
// refuses that rename while the file is open (the rollback then ends as before) but
// not for a file that only its access rights keep from being deleted.
TEST_F(InstallPackageTest, AnUndeletableNewFileDoesNotKeepTheOldInstallationOut) {
  MakeOldInstallation();
  holdOnFailure = JoinPath(folder_, L"data\\file1.txt");
  engineCalls.setRegistryValue = RefuseTheNewVersion;
  EXPECT_FALSE(InstallPackage(folder_, nullptr, message_));
  ASSERT_TRUE(heldFile) << "the new package was not in place when registration failed";
  EXPECT_EQ(message_, L"Installation was rolled back after registration failed.");
  ExpectOldInstallation();
  // The held file stays behind in a leftover work folder until it is closed.
  heldFile.reset();
  for (const std::wstring& leftover : WorkFolders()) DeleteTree(scratch_ / leftover);
}

TEST_F(InstallPackageTest, AnExistingEmptyFolderIsReplacedAndPutBackOnRollback) {
  ASSERT_TRUE(EnsureDirectory(folder_));
  engineCalls.saveShortcut = [](IPersistFile*, LPCOLESTR, BOOL) -> HRESULT { return E_FAIL; };
  EXPECT_FALSE(InstallPackage(folder_, nullptr, message_));
  EXPECT_TRUE(IsExistingDirectory(folder_));
  EXPECT_EQ(ReadBytes(JoinPath(folder_, L"Velmora.exe")), "");
  engineCalls = RealEngineCalls();
  engineCalls.readPayloadManifest = ReadTestPackage;
  message_ = L"untouched";
  ASSERT_TRUE(InstallPackage(folder_, nullptr, message_)) << WideToUtf8(message_);
  EXPECT_EQ(ReadBytes(JoinPath(folder_, L"Velmora.exe")), kPayload);
}

// The work folder names can be predicted. Entries planted under them before step 7 (files
// here, which the clean-up of a killed run's folders leaves alone like links; beside a
// folder outside Program Files, links to anything) fail the install and keep every byte.
TEST_F(InstallPackageTest, EntriesPlantedUnderTheWorkFolderNamesFailTheStepAndKeepTheirContent) {
  constexpr ULONGLONG kLead = 3000, kWindow = 150;
  static std::wstring planted;
  static ULONGLONG windowStart;
  static bool tooLate;
  planted = folder_;
  engineCalls.readPayloadManifest = [](std::vector<PayloadEntry>& entries, std::wstring& text) {
    windowStart = GetTickCount64() + kLead;
    for (ULONGLONG tick = windowStart; tick < windowStart + kWindow; ++tick) {
      for (const wchar_t* suffix : {L".staging-", L".backup-"}) {
        const std::wstring name = planted + suffix + DecimalText(GetCurrentProcessId()) + L"-" + DecimalText(tick);
        WriteBytes(name, "not ours");
      }
    }
    tooLate = GetTickCount64() >= windowStart;
    while (GetTickCount64() < windowStart) Sleep(1);
    return ReadTestPackage(entries, text);
  };
  const bool installed = InstallPackage(folder_, nullptr, message_);
  if (tooLate) GTEST_SKIP() << "planting the names took longer than their lead";
  EXPECT_FALSE(installed);
  EXPECT_EQ(message_, L"The installation folder could not be prepared.");
  const std::vector<std::wstring> leftovers = WorkFolders();
  EXPECT_EQ(leftovers.size(), 2 * kWindow);
  for (const std::wstring& leftover : leftovers) EXPECT_EQ(ReadBytes(scratch_ / leftover), "not ours");
  ExpectNothingInstalled();
}

TEST_F(InstallPackageTest, RefusalsStoreTheirMessageInEitherLanguageAndChangeNothing) {
  struct Case {
    const char* name;
    bool update;  // over an old installation
    std::wstring folder;
    size_t files;
    const wchar_t* english;
    const wchar_t* chinese;
  };
  ASSERT_TRUE(EnsureDirectory(scratch_ / L"Full"));
  ASSERT_TRUE(WriteBytes(scratch_ / L"Full\\notes.txt", "mine"));
  const std::wstring longFolder = scratch_.path() + L"\\" + std::wstring(205 - scratch_.path().size(), L'L');
  const Case cases[] = {
      {"drive root", false, L"C:\\", 4, L"Choose a full folder path that is not a drive root.",
       L"请选择不是磁盘根目录的完整文件夹路径。"},
      {"not empty", false, scratch_ / L"Full", 4, L"The selected folder is not empty. Choose another folder.",
       L"所选文件夹不是空文件夹，请选择其他位置。"},
      {"staging path too long", false, longFolder, 4, L"A packaged file failed verification.",
       L"安装包内的文件校验失败。"},
      {"another folder", true, scratch_ / L"Other", 4, L"Uninstall the existing copy before choosing another folder.",
       L"如需更换安装位置，请先卸载现有版本。"},
      {"incomplete package", true, folder_, 0, L"This setup package is incomplete.", L"当前安装包不完整。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.update && ReadUninstallValue(L"InstallLocation").empty()) MakeOldInstallation();
    UsePackage(c.files);
    for (bool english : {true, false}) {
      UseEnglish = english;
      EXPECT_FALSE(InstallPackage(c.folder, nullptr, message_));
      EXPECT_EQ(message_, english ? c.english : c.chinese);
    }
  }
  EXPECT_EQ(ReadBytes(scratch_ / L"Full\\notes.txt"), "mine");
  EXPECT_FALSE(PathExists(longFolder));
  EXPECT_FALSE(PathExists(scratch_ / L"Other"));
  ExpectOldInstallation();
  EXPECT_TRUE(WorkFolders().empty());
}

// An update killed between its two renames left the folder missing and its backup beside it.
TEST_F(InstallPackageTest, AStrandedBackupIsPutBackAndReplacedButNeverForAnotherFolder) {
  ASSERT_TRUE(RegisterUninstallEntry(folder_, L"1.0.0"));
  const std::wstring backup = folder_ + L".backup-316-905";
  ASSERT_TRUE(EnsureDirectory(backup) && WriteBytes(JoinPath(backup, kInstalledRecordName), "1001\tVelmora.exe\t1\tx\n"));
  // A killed run's staging folder goes too.
  ASSERT_TRUE(EnsureDirectory(folder_ + L".staging-12-34\\data"));
  ASSERT_TRUE(WriteBytes(folder_ + L".staging-12-34\\data\\part.bin", "partial"));
  EXPECT_FALSE(InstallPackage(scratch_ / L"Other", nullptr, message_));
  EXPECT_EQ(message_, L"Uninstall the existing copy before choosing another folder.");
  EXPECT_TRUE(PathExists(backup));
  EXPECT_FALSE(PathExists(folder_));
  EXPECT_TRUE(InstallPackage(folder_, nullptr, message_)) << WideToUtf8(message_);
  EXPECT_EQ(ReadBytes(JoinPath(folder_, L"Velmora.exe")), kPayload);
  EXPECT_TRUE(WorkFolders().empty());
  EXPECT_EQ(ReadUninstallValue(L"DisplayVersion"), kProductVersion);
}

TEST_F(InstallPackageTest, AnUpdateClearsTheBackupOfAnEarlierUpdateKilledAfterItsSwap) {
  MakeOldInstallation();
  ASSERT_TRUE(EnsureDirectory(folder_ + L".backup-12-34"));
  ASSERT_TRUE(WriteBytes(folder_ + L".backup-12-34\\" + kInstalledRecordName, "1001\tVelmora.exe\t1\tx\r\n"));
  EXPECT_TRUE(InstallPackage(folder_, nullptr, message_)) << WideToUtf8(message_);
  EXPECT_TRUE(WorkFolders().empty());
}

TEST_F(InstallPackageTest, AnUnregisteredFolderHoldingOurRecordIsPutBackWhenItsRepairFails) {
  // What a fresh install killed between its rename into place and its last registry
  // value leaves (its repair succeeding is the kill-point slice's recovery).
  ASSERT_TRUE(EnsureDirectory(folder_));
  ASSERT_TRUE(WriteBytes(JoinPath(folder_, L"Velmora.exe"), "old application"));
  ASSERT_TRUE(WriteUtf8TextFile(JoinPath(folder_, kInstalledRecordName),
                                std::wstring(L"1001\tVelmora.exe\t21\t") + kDigest + L"\r\n"));
  engineCalls.setRegistryValue = [](HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) -> LSTATUS { return 5; };
  EXPECT_FALSE(InstallPackage(folder_, nullptr, message_));
  EXPECT_EQ(message_, L"Installation was rolled back after registration failed.");
  EXPECT_EQ(ReadBytes(JoinPath(folder_, L"Velmora.exe")), "old application");
  EXPECT_EQ(ReadUninstallValue(L"InstallLocation"), L"");
  EXPECT_TRUE(WorkFolders().empty());
}
