// InstallPackage run in-process against packages fed to the real extraction, with the
// rare failures injected, watching the progress a window would receive.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "setup/core/existing_install.h"
#include "setup/core/language.h"
#include "setup/core/progress.h"
#include "setup/engine/installed_record.h"
#include "setup/engine/registration.h"
#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

constexpr wchar_t kRuntimeKey[] =
    L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App\\8.0.11";

size_t packageFiles;

// packageFiles files of resource 1001.
bool ReadTestPackage(std::vector<PayloadEntry>& entries, std::wstring& text) {
  for (size_t i = 0; i < packageFiles; ++i) {
    std::wstring path = i == 0 ? L"Velmora.exe" : L"data/file" + DecimalText(i) + L".txt";
    entries.push_back(PayloadEntry{1001, path, sizeof(kPayload) - 1, kPayloadDigest});
    text += L"1001\t" + path + L"\t21\t" + kPayloadDigest + L"\r\n";
  }
  return packageFiles != 0;
}

std::wstring ProgramsLink(const wchar_t* name) {
  wchar_t programs[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, programs);
  return JoinPath(programs, name);
}

// The injected calls fail on it: a move from or to a path holding it, creating a file whose
// path ends with it, saving a link whose path holds it, writing it as a registry string.
const wchar_t* failing;
std::wstring heldPath;  // opened when the registry write fails, if set
UniqueFile heldFile;

bool Holds(LPCWSTR text) { return failing && wcsstr(text, failing); }

BOOL WINAPI FailingMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
  EXPECT_EQ(flags, static_cast<DWORD>(MOVEFILE_WRITE_THROUGH));
  return Holds(from) || Holds(to) ? FALSE : MoveFileExW(from, to, flags);
}

HANDLE WINAPI FailingCreate(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (failing && std::wstring_view(path).ends_with(failing)) return INVALID_HANDLE_VALUE;
  return CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

HRESULT FailingSave(IPersistFile* file, LPCOLESTR path, BOOL remember) {
  return Holds(path) ? E_FAIL : file->Save(path, remember);
}

LSTATUS WINAPI FailingSet(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (type != REG_SZ || !failing || wcscmp(reinterpret_cast<const wchar_t*>(data), failing) != 0) {
    return RegSetValueExW(key, name, reserved, type, data, size);
  }
  if (!heldPath.empty()) {
    heldFile.reset(CreateFileW(heldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  }
  return ERROR_ACCESS_DENIED;
}

class InstallPackageTest : public testing::Test {
 protected:
  void SetUp() override {
    UniqueRegKey runtime;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRuntimeKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                    runtime.put(), nullptr);
    Clear();
    engineCalls = EngineCalls{FailingMove, RemoveDirectoryW, FailingSet, FailingSave, WriteFile, FlushFileBuffers,
                              FailingCreate, ReadTestPackage};
    packageFiles = 4;
  }
  void TearDown() override {
    Clear();
    UseEnglish = true;
    engineCalls = RealEngineCalls();
  }
  void Clear() {
    DeleteUninstallEntry();
    RemoveShortcuts();
    failing = nullptr;
    heldPath.clear();
  }

  // Staging or backup folders left beside the installation folder.
  std::vector<std::wstring> WorkFolders() {
    std::vector<std::wstring> found;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) {
      if (entry.path().filename().wstring().starts_with(L"Velmora.")) found.push_back(entry.path().filename());
    }
    return found;
  }

  ComApartment com_{COINIT_APARTMENTTHREADED};
  ScratchFolder scratch_;
  std::wstring folder_ = scratch_ / L"Velmora";
  std::wstring message_ = L"untouched";
};

}  // namespace

// The first round goes into an existing empty folder, the second is a repair, the last
// finishes an update killed between its two renames.
TEST_F(InstallPackageTest, PostsEachFileThenFinishingInEitherLanguageAndInstallsEverything) {
  ASSERT_TRUE(EnsureDirectory(folder_));
  ASSERT_TRUE(CreateShellLink(ProgramsLink(L"岫澜 (Velmora).lnk"), folder_));  // an older name of ours
  const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  for (bool english : {true, false}) {
    UseEnglish = english;
    ASSERT_TRUE(InstallPackage(folder_, &window, message_)) << WideToUtf8(message_);
    EXPECT_EQ(message_, L"untouched");
    std::vector<std::wstring> texts;
    std::vector<double> fractions;
    MSG message;
    while (PeekMessageW(&message, window, ProgressMessage, ProgressMessage, PM_REMOVE)) {
      std::unique_ptr<ProgressUpdate> update(reinterpret_cast<ProgressUpdate*>(message.lParam));
      texts.push_back(update->text);
      fractions.push_back(update->fraction);
    }
    const std::wstring file = english ? L"Verifying and installing program files" : L"正在校验并安装程序文件";
    const std::wstring last = english ? L"Finishing installation" : L"正在完成安装";
    EXPECT_EQ(texts, (std::vector<std::wstring>{file, file, file, file, last}));
    EXPECT_EQ(std::adjacent_find(fractions.begin(), fractions.end(), std::greater_equal<>()), fractions.end());
    EXPECT_EQ(ReadBytes(JoinPath(folder_, L"data\\file3.txt")), kPayload);
    EXPECT_FALSE(PathExists(ProgramsLink(english ? L"岫澜 (Velmora).lnk" : L"Velmora.lnk")));
    EXPECT_TRUE(WorkFolders().empty());
    // A backup with a record: the repair clears it beside the folder; without the folder it is put back.
    ASSERT_TRUE(EnsureDirectory(folder_ + L".backup-12-34"));
    ASSERT_TRUE(WriteBytes(folder_ + L".backup-12-34\\" + kInstalledRecordName, "1001\tVelmora.exe\t1\tx\r\n"));
  }
  DestroyWindow(window);
  ASSERT_TRUE(DeleteTree(folder_));
  ASSERT_TRUE(EnsureDirectory(folder_ + L".staging-12-35\\data"));
  ASSERT_TRUE(WriteBytes(folder_ + L".staging-12-35\\data\\part.bin", "partial"));
  EXPECT_FALSE(InstallPackage(scratch_ / L"Other", nullptr, message_));  // never for another folder
  EXPECT_TRUE(PathExists(folder_ + L".backup-12-34"));
  EXPECT_FALSE(PathExists(folder_));
  EXPECT_TRUE(InstallPackage(folder_, nullptr, message_)) << WideToUtf8(message_);
  EXPECT_EQ(ReadBytes(JoinPath(folder_, L"Velmora.exe")), kPayload);
  EXPECT_TRUE(WorkFolders().empty());
}

TEST_F(InstallPackageTest, FailuresAndRefusalsStoreTheirMessageAndLeaveWhatWasThereBefore) {
  enum Before { kNothing, kEmptyFolder, kKilledFreshInstall, kOldInstallation };
  struct Case {
    const char* name;
    Before before;
    const wchar_t* english;
    const wchar_t* chinese;
    const wchar_t* failing = nullptr;
    std::wstring target = {};  // folder_ when empty
    size_t files = 4;
    bool holdNewFile = false;
  };
  constexpr const wchar_t* kFileError[] = {L"Installation was rolled back after a file error.", L"写入失败，安装已回滚。"};
  constexpr const wchar_t* kRegistration[] = {L"Installation was rolled back after registration failed.",
                                              L"注册失败，安装已回滚。"};
  ASSERT_TRUE(EnsureDirectory(scratch_ / L"Full"));
  ASSERT_TRUE(WriteBytes(scratch_ / L"Full\\notes.txt", "mine"));
  const std::wstring longFolder = scratch_.path() + L"\\" + std::wstring(205 - scratch_.path().size(), L'L');
  const Case cases[] = {
      {"staging cannot move in", kNothing, kFileError[0], kFileError[1], L".staging-"},
      {"old folder cannot move aside", kOldInstallation, L"The existing installation could not be replaced.",
       L"无法替换现有安装。", L".backup-"},
      {"new folder cannot move in", kOldInstallation, kFileError[0], kFileError[1], L".staging-"},
      {"record cannot be created", kOldInstallation, L"The uninstaller could not be prepared.", L"无法准备卸载程序。",
       L"\\.install-manifest"},
      {"registration refused", kOldInstallation, kRegistration[0], kRegistration[1], L"1.0.1"},
      // Held open, which Wine lets the folder rename past; Windows refuses that rename
      // while the file is open, but not for a file only its access rights keep.
      {"registration refused, a new file undeletable", kOldInstallation, kRegistration[0], kRegistration[1],
       L"1.0.1", {}, 4, true},
      {"shortcut refused", kEmptyFolder, kRegistration[0], kRegistration[1], L".lnk"},
      {"registration refused repairing", kKilledFreshInstall, kRegistration[0], kRegistration[1], L"1.0.1"},
      {"drive root", kNothing, L"Choose a full folder path that is not a drive root.",
       L"请选择不是磁盘根目录的完整文件夹路径。", nullptr, L"C:\\"},
      {"not empty", kNothing, L"The selected folder is not empty. Choose another folder.",
       L"所选文件夹不是空文件夹，请选择其他位置。", nullptr, scratch_ / L"Full"},
      {"staging path too long", kNothing, L"A packaged file failed verification.", L"安装包内的文件校验失败。", nullptr,
       longFolder},
      {"another folder", kOldInstallation, L"Uninstall the existing copy before choosing another folder.",
       L"如需更换安装位置，请先卸载现有版本。", nullptr, scratch_ / L"Other"},
      {"incomplete package", kOldInstallation, L"This setup package is incomplete.", L"当前安装包不完整。", nullptr,
       {}, 0},
  };
  for (const Case& c : cases) {
    for (bool english : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (english ? " in English" : " in Chinese"));
      Clear();
      ASSERT_TRUE(DeleteTree(folder_));
      UseEnglish = english;
      packageFiles = c.files;
      const bool old = c.before == kOldInstallation, kept = old || c.before == kKilledFreshInstall;
      ASSERT_TRUE(c.before == kNothing || EnsureDirectory(folder_));
      ASSERT_TRUE(!kept || WriteBytes(JoinPath(folder_, L"Velmora.exe"), "old application"));
      if (c.before == kKilledFreshInstall) {  // its files and record, not yet registered
        ASSERT_TRUE(WriteUtf8TextFile(JoinPath(folder_, kInstalledRecordName),
                                      std::wstring(L"1001\tVelmora.exe\t21\t") + kPayloadDigest + L"\r\n"));
      }
      if (old) {  // an older version with a file the application made
        ASSERT_TRUE(WriteBytes(JoinPath(folder_, L"made-by-the-app.db"), "user data"));
        ASSERT_TRUE(RegisterUninstallEntry(folder_, L"1.0.0") && CreateShortcuts(folder_));
      }
      failing = c.failing;
      if (c.holdNewFile) heldPath = JoinPath(folder_, L"data\\file1.txt");
      EXPECT_FALSE(InstallPackage(c.target.empty() ? folder_ : c.target, nullptr, message_));
      EXPECT_EQ(message_, english ? c.english : c.chinese);
      if (c.holdNewFile) {  // the held file stays in a leftover work folder until it is closed
        ASSERT_TRUE(heldFile) << "the new package was not in place when registration failed";
        heldFile.reset();
        for (const std::wstring& leftover : WorkFolders()) DeleteTree(scratch_ / leftover);
      }
      // What was there before, work folders aside.
      EXPECT_EQ(std::make_tuple(IsExistingDirectory(folder_), ReadBytes(JoinPath(folder_, L"Velmora.exe")),
                                ReadBytes(JoinPath(folder_, L"made-by-the-app.db")),
                                PathExists(JoinPath(folder_, kInstalledRecordName)), WorkFolders().size()),
                std::make_tuple(c.before != kNothing, std::string(kept ? "old application" : ""),
                                std::string(old ? "user data" : ""), c.before == kKilledFreshInstall, size_t(0)));
      EXPECT_EQ(std::make_tuple(ReadUninstallValue(L"DisplayName").empty(), ReadUninstallValue(L"DisplayVersion"),
                                ReadUninstallValue(L"InstallLocation"),
                                PathExists(ProgramsLink(english ? L"Velmora.lnk" : L"岫澜.lnk"))),
                std::make_tuple(!old, std::wstring(old ? L"1.0.0" : L""), old ? folder_ : L"", old));
    }
  }
  EXPECT_EQ(ReadBytes(scratch_ / L"Full\\notes.txt"), "mine");
  EXPECT_FALSE(PathExists(longFolder));
  EXPECT_FALSE(PathExists(scratch_ / L"Other"));
}

TEST_F(InstallPackageTest, AFailedRegistryStringStopsTheStringsButStillSetsTheFlags) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, L"ModifyPath", REG_SZ, L"x", 4), ERROR_SUCCESS);
  failing = L"C:\\Apps\\Velmora";  // InstallLocation
  EXPECT_FALSE(RegisterUninstallEntry(L"C:\\Apps\\Velmora", L"1.0.1"));
  EXPECT_EQ(ReadUninstallValue(L"Publisher"), L"Quenlo");
  for (const wchar_t* absent : {L"InstallLocation", L"DisplayIcon", L"UninstallString", L"ModifyPath"}) {
    EXPECT_EQ(ReadUninstallValue(absent), L"") << WideToUtf8(absent);
  }
  for (const wchar_t* flag : {L"NoModify", L"NoRepair"}) {
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, flag, RRF_RT_REG_DWORD, nullptr, nullptr, nullptr),
              ERROR_SUCCESS) << WideToUtf8(flag);
  }
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
        WriteBytes(planted + suffix + DecimalText(GetCurrentProcessId()) + L"-" + DecimalText(tick), "not ours");
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
  EXPECT_FALSE(PathExists(folder_));
  EXPECT_EQ(ReadUninstallValue(L"DisplayName"), L"");
}
