#include "setup/core/protected_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "setup/core/paths.h"
#include "testing/scratch_folder.h"

namespace {

struct FolderSecurity {
  bool read = false;
  bool protectedDacl = false;
  bool ownerAdministrators = false;
  int aces = 0;
  int inheritedAces = 0;
  bool systemFull = false;
  bool administratorsFull = false;
  bool usersReadExecute = false;
  bool allInheritable = true;
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
    const BYTE inheritable = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if ((ace->Header.AceFlags & inheritable) != inheritable) result.allInheritable = false;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &ace->SidStart;
    if (ace->Mask == (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) && IsWellKnownSid(sid, WinBuiltinUsersSid)) {
      result.usersReadExecute = true;
    }
    if ((ace->Mask & FILE_ALL_ACCESS) != FILE_ALL_ACCESS) continue;
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

FolderSecurity DescribeSddl(const wchar_t* sddl) {
  UniqueLocalMemory descriptor;
  if (!ParseSecurityDescriptor(sddl, descriptor)) return FolderSecurity();
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
  return Describe(descriptor.get(), owner, dacl);
}

// A folder given Everyone full control, as a standard user could have made it.
void OpenToEveryone(const std::wstring& path) {
  UniqueLocalMemory everyone;
  ASSERT_TRUE(ParseSecurityDescriptor(L"D:(A;OICI;FA;;;WD)", everyone));
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorDacl(everyone.get(), &present, &dacl, &defaulted);
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            DWORD(ERROR_SUCCESS));
}

TEST(ProtectedFolder, TheDescriptorsGrantWhatTheyShould) {
  ExpectProtected(DescribeSddl(kProtectedFolderSddl));
  FolderSecurity install = DescribeSddl(kInstallFolderDacl);
  ASSERT_TRUE(install.read);
  EXPECT_TRUE(install.protectedDacl);
  EXPECT_EQ(install.aces, 3);
  EXPECT_TRUE(install.systemFull && install.administratorsFull && install.usersReadExecute);
  EXPECT_TRUE(install.allInheritable);  // what the install writes gets it too
}

// Wine keeps no DACL or owner set on a file (it reports one made from the Unix mode) and
// renames a folder that holds an open one: those checks run on Windows only.
TEST(ProtectedFolder, OnlyTheTemporaryFolderIsProtectedAndItIsHeld) {
  const bool wine = IsRunningUnderWine();
  ScratchFolder data(L"velmora-protected");
  const std::wstring product = data / L"Velmora", temporary = JoinPath(product, L"installer-temp");
  ASSERT_TRUE(EnsurePlainFolderChain(product));
  if (!wine) OpenToEveryone(product);
  {
    HeldInstallerTemp held;
    ASSERT_TRUE(HoldProtectedInstallerTemp(temporary, held));
    EXPECT_FALSE(MoveFileW(temporary.c_str(), (temporary + L"-moved").c_str()));
    if (!wine) {
      ExpectProtected(ReadSecurity(temporary));
      FolderSecurity parent = ReadSecurity(product);  // left as its maker set it
      EXPECT_FALSE(parent.protectedDacl);
      EXPECT_EQ(parent.aces, 1);
      EXPECT_FALSE(MoveFileW(product.c_str(), (product + L"-moved").c_str()));
    }
  }
  // Used again, also while a program started from it still holds it.
  HeldInstallerTemp first, second;
  EXPECT_TRUE(HoldProtectedInstallerTemp(temporary, first));
  EXPECT_TRUE(HoldProtectedInstallerTemp(temporary, second));
}

// A file at the product folder's level is the launcher's and the runtime flow's end-to-end case.
TEST(ProtectedFolder, AFileWhereTheTemporaryFolderBelongsIsRefused) {
  ScratchFolder data(L"velmora-protected-file");
  const std::wstring temporary = data / L"Velmora\\installer-temp";
  ASSERT_TRUE(EnsurePlainFolderChain(data / L"Velmora"));
  ASSERT_TRUE(UniqueFile(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
  HeldInstallerTemp held;
  EXPECT_FALSE(HoldProtectedInstallerTemp(temporary, held));
}

}  // namespace
