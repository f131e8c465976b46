// Runs against this process's own registry view and environment: each case builds the
// runtime key and a scratch program-files folder, and removes both afterwards.
#include "setup/runtime/runtime_detection.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "testing/scratch_folder.h"

namespace {

const std::wstring kRuntimeKey =
    L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App";
constexpr wchar_t kRuntimeFolder[] = L"dotnet\\shared\\Microsoft.WindowsDesktop.App";

UniqueRegKey CreateKey(const std::wstring& path) {
  UniqueRegKey key;
  LSTATUS created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    key.put(), nullptr);
  EXPECT_EQ(created, ERROR_SUCCESS);
  return key;
}

void AddRuntimeFolder(const std::wstring& programFiles, const std::wstring& name) {
  ASSERT_TRUE(EnsureDirectory(JoinPath(JoinPath(programFiles, kRuntimeFolder), name)));
}

class DesktopRuntimeDetection : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRuntimeKey.c_str()); }
  void TearDown() override {
    SetUp();
    for (const auto& [name, value] : saved_) {
      SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
    }
  }
  const std::pair<const wchar_t*, std::wstring> saved_[2] = {
      {L"ProgramW6432", ReadEnvironmentVariable(L"ProgramW6432")},
      {L"ProgramFiles", ReadEnvironmentVariable(L"ProgramFiles")}};
};

TEST(QualifyingVersionName, MajorEightFollowedByAFullStopOnly) {
  const struct { const wchar_t* name; bool qualifies; } cases[] = {
      {L"8.0.11", true}, {L"08.0.1", true}, {L" 8.1", true}, {L"+8.2.0", true}, {L"8.", true},
      {L"8", false}, {L"80.0.1", false}, {L"9.0.0", false}, {L"7.0.20", false}, {L"8-preview", false},
      {L"-4294967288.0", false}, {L"4294967304.0", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsQualifyingVersionName(c.name), c.qualifies) << "name: \"" << WideToUtf8(c.name) << "\"";
  }
}

TEST_F(DesktopRuntimeDetection, RegistrySubKeysThenTheProgramFilesFolder) {
  const std::wstring longName = L"8.0." + std::wstring(124, L'1');  // 128: no room for the terminator
  const struct {
    const char* what;
    std::vector<std::wstring> subKeys, valueNames, folders, files;
    bool installed;
  } cases[] = {
      {"a qualifying sub-key among others", {L"6.0.36", L"8.0.11"}, {}, {}, {}, true},
      {"another major in the registry", {L"9.0.0"}, {}, {}, {}, false},
      {"another major in the registry, 8 in the folder", {L"9.0.0"}, {}, {L"8.0.11"}, {}, true},
      {"a version stored as a value", {}, {L"8.0.11"}, {}, {}, false},
      {"a version stored as a value, 8 in the folder", {}, {L"8.0.11"}, {L"8.0.4"}, {}, true},
      {"the folder alone", {}, {}, {L"8.0.11"}, {}, true},
      {"a file; a folder of another major", {}, {}, {L"9.0.0"}, {L"8.0.11"}, false},
      {"names of 128 or more passed over", {longName, L"8.0." + std::wstring(140, L'2')}, {}, {}, {}, false},
      {"the enumeration goes on after them", {longName, L"8.0.3"}, {}, {}, {}, true},
      {"127 characters fit", {L"8.0." + std::wstring(123, L'1')}, {}, {}, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    ScratchFolder programFiles(L"velmora-detection");
    SetEnvironmentVariableW(L"ProgramW6432", programFiles.path().c_str());
    UniqueRegKey key = CreateKey(kRuntimeKey);
    for (const std::wstring& name : c.subKeys) CreateKey(kRuntimeKey + L"\\" + name);
    for (const std::wstring& name : c.valueNames) {
      ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    }
    for (const std::wstring& name : c.folders) AddRuntimeFolder(programFiles.path(), name);
    for (const std::wstring& name : c.files) {
      AddRuntimeFolder(programFiles.path(), L"");
      UniqueFile file(CreateFileW((programFiles / kRuntimeFolder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, 0, nullptr));
      ASSERT_TRUE(bool(file));
    }
    EXPECT_EQ(IsDesktopRuntimeInstalled(), c.installed);
  }
}

TEST_F(DesktopRuntimeDetection, ProgramW6432WhenSetElseProgramFilesElseNothing) {
  ScratchFolder w6432(L"velmora-detection"), other(L"velmora-detection");
  AddRuntimeFolder(other.path(), L"8.0.11");
  SetEnvironmentVariableW(L"ProgramFiles", other.path().c_str());
  for (const wchar_t* unset : {static_cast<const wchar_t*>(nullptr), L""}) {
    SetEnvironmentVariableW(L"ProgramW6432", unset);
    EXPECT_TRUE(IsDesktopRuntimeInstalled());
  }
  SetEnvironmentVariableW(L"ProgramW6432", w6432.path().c_str());
  EXPECT_FALSE(IsDesktopRuntimeInstalled()) << "ProgramW6432, when set, is the only folder searched";
  SetEnvironmentVariableW(L"ProgramW6432", nullptr);
  SetEnvironmentVariableW(L"ProgramFiles", nullptr);
  EXPECT_FALSE(IsDesktopRuntimeInstalled());
}

}  // namespace
