// Runs against this process's own registry view and environment: each case builds the
// runtime key and a scratch program-files folder, and removes both afterwards.
#include "setup/runtime/runtime_detection.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"

namespace {

constexpr wchar_t kSharedFxKey[] = L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx";
constexpr wchar_t kFramework[] = L"Microsoft.WindowsDesktop.App";
constexpr wchar_t kRuntimeFolder[] = L"dotnet\\shared\\Microsoft.WindowsDesktop.App";

std::optional<std::wstring> SavedVariable(const wchar_t* name) {
  wchar_t buffer[32768];
  DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  if (length == 0 || length >= 32768) return std::nullopt;
  return std::wstring(buffer, length);
}

void RestoreVariable(const wchar_t* name, const std::optional<std::wstring>& value) {
  SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

void DeleteRuntimeKey() {
  UniqueRegKey parent;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedFxKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, parent.put()) ==
      ERROR_SUCCESS) {
    RegDeleteTreeW(parent.get(), kFramework);
  }
}

UniqueRegKey CreateRuntimeKey(const std::wstring& subKey = L"") {
  std::wstring path = std::wstring(kSharedFxKey) + L"\\" + kFramework;
  if (!subKey.empty()) path += L"\\" + subKey;
  UniqueRegKey key;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                            nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  return key;
}

void DeleteFolderTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &entry));
  if (find) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = JoinPath(folder, name);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteFolderTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.get(), &entry));
  }
  RemoveDirectoryW(folder.c_str());
}

class DesktopRuntimeDetection : public testing::Test {
 protected:
  void SetUp() override {
    DeleteRuntimeKey();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    programFiles_ = JoinPath(temp, L"velmora-detection-" + DecimalText(GetCurrentProcessId()));
    ASSERT_TRUE(EnsureDirectory(programFiles_));
    SetEnvironmentVariableW(L"ProgramW6432", programFiles_.c_str());
  }
  void TearDown() override {
    DeleteRuntimeKey();
    DeleteFolderTree(programFiles_);
    RestoreVariable(L"ProgramW6432", savedW6432_);
    RestoreVariable(L"ProgramFiles", savedProgramFiles_);
  }
  void AddRuntimeFolder(const std::wstring& name, const std::wstring& base = L"") {
    ASSERT_TRUE(EnsureDirectory(JoinPath(JoinPath(base.empty() ? programFiles_ : base, kRuntimeFolder), name)));
  }
  void AddRuntimeFile(const std::wstring& name) {
    std::wstring folder = JoinPath(programFiles_, kRuntimeFolder);
    ASSERT_TRUE(EnsureDirectory(folder));
    UniqueFile file(CreateFileW(JoinPath(folder, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(bool(file));
  }

  std::wstring programFiles_;
  std::optional<std::wstring> savedW6432_ = SavedVariable(L"ProgramW6432");
  std::optional<std::wstring> savedProgramFiles_ = SavedVariable(L"ProgramFiles");
};

TEST(QualifyingVersionName, MajorEightFollowedByAFullStopOnly) {
  const struct {
    const wchar_t* name;
    bool qualifies;
  } cases[] = {
      {L"8.0.0", true},   {L"8.0.11", true},       {L"08.0.1", true},      {L" 8.1", true},
      {L"+8.2.0", true},  {L"8.", true},           {L"8", false},          {L"80.0.1", false},
      {L"9.0.0", false},  {L"7.0.20", false},      {L"8-preview", false},  {L"", false},
      {L".8.0", false},   {L"-8.0", false},        {L"-4294967288.0", false},
      {L"4294967304.0", false}, {L"v8.0", false},  {L"8 .0", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsQualifyingVersionName(c.name), c.qualifies) << "name: \"" << WideToUtf8(c.name) << "\"";
  }
}

TEST_F(DesktopRuntimeDetection, QualifyingSubKeyAmongOthersIsEnough) {
  CreateRuntimeKey(L"6.0.36");
  CreateRuntimeKey(L"8.0.11");
  EXPECT_TRUE(IsDesktopRuntimeInstalled());
}

TEST_F(DesktopRuntimeDetection, OtherMajorInRegistryFallsBackToTheFolder) {
  CreateRuntimeKey(L"9.0.0");
  EXPECT_FALSE(IsDesktopRuntimeInstalled());
  AddRuntimeFolder(L"8.0.11");
  EXPECT_TRUE(IsDesktopRuntimeInstalled());
}

TEST_F(DesktopRuntimeDetection, VersionsStoredAsValuesDoNotCount) {
  UniqueRegKey key = CreateRuntimeKey();
  const wchar_t data[] = L"8.0.11";
  ASSERT_EQ(RegSetValueExW(key.get(), L"8.0.11", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof(data)),
            ERROR_SUCCESS);
  EXPECT_FALSE(IsDesktopRuntimeInstalled());
  AddRuntimeFolder(L"8.0.4");
  EXPECT_TRUE(IsDesktopRuntimeInstalled());
}

TEST_F(DesktopRuntimeDetection, FolderAloneIsEnoughWithoutTheKey) {
  AddRuntimeFolder(L"8.0.11");
  EXPECT_TRUE(IsDesktopRuntimeInstalled());
}

TEST_F(DesktopRuntimeDetection, FilesAndOtherFolderNamesDoNotCount) {
  AddRuntimeFile(L"8.0.11");
  for (const wchar_t* name : {L"8", L"80.1.0", L"9.0.0", L"7.0.20", L"8-preview", L".8.0"}) AddRuntimeFolder(name);
  EXPECT_FALSE(IsDesktopRuntimeInstalled());
}

TEST_F(DesktopRuntimeDetection, ProgramFilesIsUsedWhenProgramW6432IsUnsetOrEmpty) {
  std::wstring other = JoinPath(programFiles_, L"other");
  AddRuntimeFolder(L"8.0.11", other);
  SetEnvironmentVariableW(L"ProgramFiles", other.c_str());
  for (const wchar_t* w6432 : {static_cast<const wchar_t*>(nullptr), L""}) {
    SetEnvironmentVariableW(L"ProgramW6432", w6432);
    EXPECT_TRUE(IsDesktopRuntimeInstalled());
  }
  SetEnvironmentVariableW(L"ProgramW6432", programFiles_.c_str());
  EXPECT_FALSE(IsDesktopRuntimeInstalled()) << "ProgramW6432, when set, is the only folder searched";
}

TEST_F(DesktopRuntimeDetection, NothingWithoutKeyAndWithoutEitherVariable) {
  AddRuntimeFolder(L"8.0.11");
  SetEnvironmentVariableW(L"ProgramW6432", nullptr);
  SetEnvironmentVariableW(L"ProgramFiles", nullptr);
  EXPECT_FALSE(IsDesktopRuntimeInstalled());
}

TEST_F(DesktopRuntimeDetection, SubKeyNamesOf128CharactersOrMoreAreSkipped) {
  std::wstring tooLong = L"8.0." + std::wstring(124, L'1');  // 128: no room for the terminator
  CreateRuntimeKey(tooLong);
  CreateRuntimeKey(L"8.0." + std::wstring(140, L'2'));
  EXPECT_FALSE(IsDesktopRuntimeInstalled()) << "a name that does not fit is passed over";
  CreateRuntimeKey(L"8.0.3");
  EXPECT_TRUE(IsDesktopRuntimeInstalled()) << "the enumeration goes on after it";
  DeleteRuntimeKey();
  CreateRuntimeKey(L"8.0." + std::wstring(123, L'1'));  // 127 fits
  EXPECT_TRUE(IsDesktopRuntimeInstalled());
}

}  // namespace
