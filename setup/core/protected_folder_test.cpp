#include "setup/core/protected_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "setup/core/paths.h"

namespace {

struct FolderSecurity {
  bool read = false;
  bool protectedDacl = false;
  bool ownerAdministrators = false;
  int aces = 0;
  int inheritedAces = 0;
  bool systemFull = false;
  bool administratorsFull = false;
};

FolderSecurity Describe(PSECURITY_DESCRIPTOR descriptor, PSID owner, PACL dacl) {
  FolderSecurity result;
  result.read = true;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  result.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  result.ownerAdministrators = owner && IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    ++result.aces;
    if (ace->Header.AceFlags & INHERITED_ACE) ++result.inheritedAces;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->Mask & FILE_ALL_ACCESS) != FILE_ALL_ACCESS) continue;
    PSID sid = &ace->SidStart;
    result.systemFull = result.systemFull || IsWellKnownSid(sid, WinLocalSystemSid);
    result.administratorsFull = result.administratorsFull || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
  }
  return result;
}

FolderSecurity ReadSecurity(const std::wstring& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  UniqueLocalMemory descriptor;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr,
                            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
    return FolderSecurity();
  }
  return Describe(descriptor.get(), owner, dacl);
}

bool IsRunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ExpectProtected(const FolderSecurity& security) {
  ASSERT_TRUE(security.read) << "cannot read the security of this folder";
  EXPECT_TRUE(security.protectedDacl);
  EXPECT_TRUE(security.ownerAdministrators);
  EXPECT_EQ(security.aces, 2);
  EXPECT_EQ(security.inheritedAces, 0);
  EXPECT_TRUE(security.systemFull);
  EXPECT_TRUE(security.administratorsFull);
}

std::wstring ScratchFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return JoinPath(temp, std::wstring(name) + L"-" + std::to_wstring(GetCurrentProcessId()));
}

// Wine keeps no DACL or owner set on a file: it reports one made from the Unix mode.
void ExpectProtected(const std::wstring& path) {
  if (IsRunningUnderWine()) return;
  ExpectProtected(ReadSecurity(path));
}

TEST(ProtectedFolder, TheDescriptorAppliedGrantsSystemAndAdministratorsOnly) {
  UniqueLocalMemory descriptor;
  ASSERT_TRUE(ParseSecurityDescriptor(kProtectedFolderSddl, descriptor));
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted));
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
  ExpectProtected(Describe(descriptor.get(), owner, dacl));
}

TEST(ProtectedFolder, DaclReadBackOnlyOnWindows) {
  if (IsRunningUnderWine()) GTEST_SKIP() << "Wine keeps no DACL set on a file; it reports one made from the Unix mode";
  std::wstring temporary = JoinPath(ScratchFolder(L"velmora-protected-read"), L"Velmora\\installer-temp");
  ASSERT_TRUE(EnsureProtectedInstallerTemp(temporary));
  ExpectProtected(ReadSecurity(temporary));
}

TEST(ProtectedFolder, BothLevelsAreCreatedForSystemAndAdministratorsOnly) {
  std::wstring data = ScratchFolder(L"velmora-protected-new");
  std::wstring temporary = JoinPath(data, L"Velmora\\installer-temp");
  ASSERT_TRUE(EnsureProtectedInstallerTemp(temporary));
  ExpectProtected(JoinPath(data, L"Velmora"));
  ExpectProtected(temporary);
  // Used again: still accepted.
  EXPECT_TRUE(EnsureProtectedInstallerTemp(temporary));
}

TEST(ProtectedFolder, AnOpenFolderMadeEarlierIsTakenBack) {
  std::wstring data = ScratchFolder(L"velmora-protected-open");
  std::wstring product = JoinPath(data, L"Velmora");
  ASSERT_TRUE(EnsurePlainFolderChain(product));
  UniqueLocalMemory everyone;
  ASSERT_TRUE(ParseSecurityDescriptor(L"D:(A;OICI;FA;;;WD)", everyone));
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(product.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr,
                                  [&] {
                                    PACL dacl = nullptr;
                                    BOOL present = FALSE, defaulted = FALSE;
                                    GetSecurityDescriptorDacl(everyone.get(), &present, &dacl, &defaulted);
                                    return dacl;
                                  }(),
                                  nullptr),
            DWORD(ERROR_SUCCESS));
  ASSERT_TRUE(EnsureProtectedInstallerTemp(JoinPath(product, L"installer-temp")));
  ExpectProtected(product);
}

TEST(ProtectedFolder, AFileWhereTheFolderBelongsIsRefused) {
  std::wstring data = ScratchFolder(L"velmora-protected-file");
  ASSERT_TRUE(EnsurePlainFolderChain(data));
  std::wstring product = JoinPath(data, L"Velmora");
  UniqueFile file(CreateFileW(product.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file);
  file.reset();
  EXPECT_FALSE(EnsureProtectedInstallerTemp(JoinPath(product, L"installer-temp")));
}

}  // namespace
