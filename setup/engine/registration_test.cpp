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

const std::wstring programs = KnownFolderPath(FOLDERID_CommonPrograms);
const std::wstring desktop = KnownFolderPath(FOLDERID_PublicDesktop);

int ShortcutCount(const wchar_t* name) {
  return PathExists(JoinPath(programs, name)) + PathExists(JoinPath(desktop, name));
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

}  // namespace

TEST_F(RegistrationTest, AFailedStringWriteStopsTheStringsButStillSetsTheFlags) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, L"ModifyPath", REG_SZ, L"x", 4), ERROR_SUCCESS);
  engineCalls.setRegistryValue = [](HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size) -> LSTATUS {
    if (wcscmp(name, L"InstallLocation") == 0) return ERROR_ACCESS_DENIED;
    return RegSetValueExW(key, name, reserved, type, data, size);
  };
  EXPECT_FALSE(RegisterUninstallEntry(L"C:\\Apps\\Velmora", L"1.0.1"));
  EXPECT_EQ(ReadUninstallValue(L"Publisher"), L"Quenlo");
  for (const wchar_t* absent : {L"InstallLocation", L"DisplayIcon", L"UninstallString", L"ModifyPath"}) {
    EXPECT_EQ(MachineValueType(kUninstallKeyPath, absent), 0u) << WideToUtf8(absent);
  }
  EXPECT_EQ(MachineValueType(kUninstallKeyPath, L"NoModify"), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(MachineValueType(kUninstallKeyPath, L"NoRepair"), static_cast<DWORD>(REG_DWORD));
}

// The language's shortcuts replace every other name ours ever had, the older one too.
TEST_F(RegistrationTest, ShortcutsReplaceTheOtherNames) {
  ASSERT_FALSE(programs.empty() || desktop.empty());
  ASSERT_TRUE(CreateShellLink(JoinPath(programs, L"岫澜 (Velmora).lnk"), L"C:\\Apps\\Velmora"));
  UseEnglish = true;
  ASSERT_TRUE(CreateShortcuts(L"C:\\Apps\\Velmora"));
  EXPECT_EQ(ShortcutCount(L"Velmora.lnk"), 2);
  EXPECT_EQ(ShortcutCount(L"岫澜 (Velmora).lnk"), 0);
  RemoveShortcuts();
  EXPECT_EQ(ShortcutCount(L"Velmora.lnk"), 0);
}
