#include "setup/engine/registration.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <knownfolders.h>

#include "setup/core/existing_install.h"
#include "setup/core/language.h"
#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

std::wstring KnownFolderPath(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  SHGetKnownFolderPath(id, 0, nullptr, &raw);
  UniqueCoTaskMemory owner(raw);
  return raw ? raw : L"";
}

const std::wstring& ProgramsFolder() {
  static const std::wstring folder = KnownFolderPath(FOLDERID_CommonPrograms);
  return folder;
}

const std::wstring& DesktopFolder() {
  static const std::wstring folder = KnownFolderPath(FOLDERID_PublicDesktop);
  return folder;
}

bool ShortcutInBoth(const wchar_t* name) {
  return PathExists(JoinPath(ProgramsFolder(), name)) && PathExists(JoinPath(DesktopFolder(), name));
}

bool ShortcutInEither(const wchar_t* name) {
  return PathExists(JoinPath(ProgramsFolder(), name)) || PathExists(JoinPath(DesktopFolder(), name));
}

// The product's machine-wide state, cleared before and after each test.
class RegistrationTest : public testing::Test {
 protected:
  void SetUp() override {
    DeleteUninstallEntry();
    RemoveShortcuts();
  }
  void TearDown() override {
    DeleteUninstallEntry();
    RemoveShortcuts();
    UseEnglish = true;
  }
  InjectedFaults faults_;
  ComApartment com_{COINIT_APARTMENTTHREADED};
};

std::string Utf16(const std::wstring& text) { return WideBytes(text); }

}  // namespace

TEST_F(RegistrationTest, AFailedStringWriteStopsTheStringsButStillSetsTheFlags) {
  ASSERT_TRUE(SetMachineString(kUninstallKeyPath, L"ModifyPath", L"x"));
  engineCalls.setRegistryValue = [](HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size) -> LSTATUS {
    if (wcscmp(name, L"InstallLocation") == 0) return ERROR_ACCESS_DENIED;
    return RegSetValueExW(key, name, reserved, type, data, size);
  };
  EXPECT_FALSE(RegisterUninstallEntry(L"C:\\Apps\\Velmora", L"1.0.1"));
  EXPECT_EQ(ReadMachineValue(kUninstallKeyPath, L"Publisher").data, Utf16(L"Quenlo"));
  for (const wchar_t* absent : {L"InstallLocation", L"DisplayIcon", L"UninstallString", L"ModifyPath"}) {
    EXPECT_EQ(ReadMachineValue(kUninstallKeyPath, absent).type, 0u) << WideToUtf8(absent);
  }
  EXPECT_EQ(ReadMachineValue(kUninstallKeyPath, L"NoModify").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ReadMachineValue(kUninstallKeyPath, L"NoRepair").type, static_cast<DWORD>(REG_DWORD));
}

// The language's shortcuts replace every other name ours ever had, the older one too.
TEST_F(RegistrationTest, ShortcutsReplaceTheOtherNames) {
  ASSERT_FALSE(ProgramsFolder().empty());
  ASSERT_FALSE(DesktopFolder().empty());
  ASSERT_TRUE(CreateShellLink(JoinPath(ProgramsFolder(), L"岫澜 (Velmora).lnk"), L"C:\\Apps\\Velmora"));
  UseEnglish = true;
  ASSERT_TRUE(CreateShortcuts(L"C:\\Apps\\Velmora"));
  EXPECT_TRUE(ShortcutInBoth(L"Velmora.lnk"));
  EXPECT_FALSE(ShortcutInEither(L"岫澜 (Velmora).lnk"));
  RemoveShortcuts();
  EXPECT_FALSE(ShortcutInEither(L"Velmora.lnk"));
}

TEST_F(RegistrationTest, ADesktopSaveFailureLeavesTheStartMenuShortcutForTheCaller) {
  UseEnglish = true;
  engineCalls.saveShortcut = [](IPersistFile* file, LPCOLESTR path, BOOL remember) -> HRESULT {
    if (wcsstr(path, DesktopFolder().c_str()) == path) return E_ACCESSDENIED;
    return file->Save(path, remember);
  };
  EXPECT_FALSE(CreateShortcuts(L"C:\\Apps\\Velmora"));
  EXPECT_TRUE(PathExists(JoinPath(ProgramsFolder(), L"Velmora.lnk")));
  EXPECT_FALSE(PathExists(JoinPath(DesktopFolder(), L"Velmora.lnk")));
}
