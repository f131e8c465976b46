#include "setup/core/protected_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "setup/core/paths.h"
#include "testing/scratch_folder.h"

namespace {

// What a descriptor grants, as Windows reads it back.
struct Security {
  bool protectedDacl = false, ownerAdministrators = false, allInheritable = true;
  int aces = 0;  // with a protected DACL, any inherited or extra ACE shows in the count
  ACCESS_MASK system = 0, administrators = 0, users = 0;
  bool operator==(const Security&) const = default;
};

Security Describe(PSECURITY_DESCRIPTOR descriptor) {
  Security result;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  result.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  result.ownerAdministrators = owner && IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
  const BYTE inheritable = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const std::pair<WELL_KNOWN_SID_TYPE, ACCESS_MASK*> accounts[] = {
      {WinLocalSystemSid, &result.system}, {WinBuiltinAdministratorsSid, &result.administrators},
      {WinBuiltinUsersSid, &result.users}};
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    ++result.aces;
    result.allInheritable = result.allInheritable && (ace->Header.AceFlags & inheritable) == inheritable;
    for (auto [account, mask] : accounts) {
      const bool allowed = ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE;
      if (allowed && IsWellKnownSid(&ace->SidStart, account)) *mask |= ace->Mask;
    }
  }
  return result;
}

Security DescribeSddl(const wchar_t* sddl) {
  UniqueLocalMemory descriptor;
  return ParseSecurityDescriptor(sddl, descriptor) ? Describe(descriptor.get()) : Security{.aces = -1};
}

Security ReadSecurity(const std::wstring& path) {
  UniqueLocalMemory descriptor;
  return GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, nullptr, nullptr,
                               reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) == ERROR_SUCCESS
             ? Describe(descriptor.get())
             : Security{.aces = -1};
}

const Security kProtected{.protectedDacl = true, .ownerAdministrators = true, .aces = 2,
                          .system = FILE_ALL_ACCESS, .administrators = FILE_ALL_ACCESS};

TEST(ProtectedFolder, TheDescriptorsGrantWhatTheyShould) {
  EXPECT_EQ(DescribeSddl(kProtectedFolderSddl), kProtected);
  EXPECT_EQ(DescribeSddl((L"O:BA" + std::wstring(kProtectedFolderDacl)).c_str()), kProtected);  // made with it
  // Inheritable: what the install writes gets it too.
  EXPECT_EQ(DescribeSddl(kInstallFolderDacl), (Security{.protectedDacl = true, .aces = 3, .system = FILE_ALL_ACCESS,
                                                        .administrators = FILE_ALL_ACCESS,
                                                        .users = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}));
}

// Wine keeps no DACL or owner set on a file (it reports one made from the Unix mode) and
// renames a folder that holds an open one: those checks run on Windows only.
TEST(ProtectedFolder, ProtectsAndHoldsOnlyTheTemporaryFolderAndRefusesAFile) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
  ScratchFolder data(L"velmora-protected");
  const std::wstring product = data / L"Velmora", temporary = JoinPath(product, L"installer-temp");
  ASSERT_TRUE(EnsurePlainFolderChain(product));
  // Everyone given full control of the product folder, as a standard user could have made it.
  UniqueLocalMemory everyone;
  ASSERT_TRUE(ParseSecurityDescriptor(L"D:(A;OICI;FA;;;WD)", everyone));
  ASSERT_TRUE(wine || SetFileSecurityW(product.c_str(), DACL_SECURITY_INFORMATION, everyone.get()));
  {
    HeldInstallerTemp held;
    ASSERT_TRUE(HoldProtectedInstallerTemp(temporary, held));
    EXPECT_FALSE(MoveFileW(temporary.c_str(), (temporary + L"-moved").c_str()));
    if (!wine) {
      EXPECT_EQ(ReadSecurity(temporary), kProtected);
      const Security parent = ReadSecurity(product);  // left as its maker set it
      EXPECT_EQ(std::pair(parent.protectedDacl, parent.aces), std::pair(false, 1));
      EXPECT_FALSE(MoveFileW(product.c_str(), (product + L"-moved").c_str()));
    }
  }
  // Used again, also while a program started from it still holds it.
  HeldInstallerTemp first, second;
  EXPECT_TRUE(HoldProtectedInstallerTemp(temporary, first));
  EXPECT_TRUE(HoldProtectedInstallerTemp(temporary, second));
  const std::wstring file = data / L"file";
  ASSERT_TRUE(UniqueFile(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
  HeldInstallerTemp onFile;
  EXPECT_FALSE(HoldProtectedInstallerTemp(file, onFile));
}

}  // namespace
