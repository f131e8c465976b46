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

TEST_F(RegistrationTest, WritesEveryValueWithItsTypeAndKeepsOtherValues) {
  ASSERT_TRUE(SetMachineString(kUninstallKeyPath, L"ModifyPath", L"x"));
  ASSERT_TRUE(SetMachineString(kUninstallKeyPath, L"Comments", L"kept"));
  UseEnglish = true;
  ASSERT_TRUE(RegisterUninstallEntry(L"C:\\Apps\\Velmora", L"1.0.1"));
  const std::pair<const wchar_t*, std::wstring> strings[] = {
      {L"DisplayName", L"Velmora"},
      {L"DisplayVersion", L"1.0.1"},
      {L"Publisher", L"Quenlo"},
      {L"InstallLocation", L"C:\\Apps\\Velmora"},
      {L"DisplayIcon", L"C:\\Apps\\Velmora\\Uninstall.exe,0"},
      {L"UninstallString", L"\"C:\\Apps\\Velmora\\Uninstall.exe\" /uninstall"},
      {L"QuietUninstallString", L"\"C:\\Apps\\Velmora\\Uninstall.exe\" /uninstall /quiet"},
      {L"Comments", L"kept"},
  };
  for (const auto& [name, text] : strings) {
    RegistryValue value = ReadMachineValue(kUninstallKeyPath, name);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << WideToUtf8(name);
    EXPECT_EQ(value.data, Utf16(text)) << WideToUtf8(name);  // NUL included in the size
  }
  for (const wchar_t* name : {L"NoModify", L"NoRepair"}) {
    RegistryValue value = ReadMachineValue(kUninstallKeyPath, name);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value.data, std::string("\x01\x00\x00\x00", 4));
  }
  EXPECT_EQ(ReadMachineValue(kUninstallKeyPath, L"ModifyPath").type, 0u);
}

TEST_F(RegistrationTest, ChineseDisplayName) {
  UseEnglish = false;
  ASSERT_TRUE(RegisterUninstallEntry(L"C:\\Apps\\Velmora", kProductVersion));
  EXPECT_EQ(ReadMachineValue(kUninstallKeyPath, L"DisplayName").data, Utf16(L"岫澜"));
}

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

TEST_F(RegistrationTest, DeleteUninstallEntryIsTrueWhenTheKeyIsGone) {
  ASSERT_TRUE(RegisterUninstallEntry(L"C:\\Apps\\Velmora", L"1.0.1"));
  EXPECT_TRUE(DeleteUninstallEntry());
  EXPECT_EQ(ReadUninstallValue(L"InstallLocation"), L"");
  EXPECT_TRUE(DeleteUninstallEntry());
}

TEST_F(RegistrationTest, ShortcutsFollowTheLanguageAndReplaceTheOtherNames) {
  ASSERT_FALSE(ProgramsFolder().empty());
  ASSERT_FALSE(DesktopFolder().empty());
  ASSERT_TRUE(CreateShellLink(JoinPath(ProgramsFolder(), L"岫澜 (Velmora).lnk"), L"C:\\Apps\\Velmora"));
  UseEnglish = true;
  ASSERT_TRUE(CreateShortcuts(L"C:\\Apps\\Velmora"));
  EXPECT_TRUE(ShortcutInBoth(L"Velmora.lnk"));
  EXPECT_FALSE(ShortcutInEither(L"岫澜 (Velmora).lnk"));
  UseEnglish = false;
  ASSERT_TRUE(CreateShortcuts(L"C:\\Apps\\Velmora"));
  EXPECT_TRUE(ShortcutInBoth(L"岫澜.lnk"));
  EXPECT_FALSE(ShortcutInEither(L"Velmora.lnk"));
  RemoveShortcuts();
  EXPECT_FALSE(ShortcutInEither(L"岫澜.lnk"));
}

TEST_F(RegistrationTest, ShellLinkHoldsTargetWorkingFolderAndIcon) {
  ScratchFolder scratch;
  const std::wstring path = scratch / L"Velmora.lnk";
  ASSERT_TRUE(CreateShellLink(path, L"C:\\Apps\\Velmora"));
  ComPtr<IShellLinkW> link;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         link.put_void())));
  ComPtr<IPersistFile> file;
  ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.put_void())));
  ASSERT_TRUE(SUCCEEDED(file->Load(path.c_str(), STGM_READ)));
  wchar_t text[MAX_PATH] = {};
  int icon = -1;
  link->GetWorkingDirectory(text, MAX_PATH);
  EXPECT_STREQ(text, L"C:\\Apps\\Velmora");
  link->GetIconLocation(text, MAX_PATH, &icon);
  EXPECT_STREQ(text, L"C:\\Apps\\Velmora\\Velmora.exe");
  EXPECT_EQ(icon, 0);
  EXPECT_FALSE(CreateShellLink(L"", L"C:\\Apps\\Velmora"));
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
