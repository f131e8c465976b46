// The installer temporary folder lives below ProgramData, where standard users may
// create folders. "<ProgramData>\Velmora" may have been made by anyone (the application
// keeps its own data there), so it is only required to be a real folder and is never
// changed; "installer-temp" alone gets a protected DACL (SYSTEM and Administrators only,
// nothing inherited) and an owner we trust. Both are opened without following links and
// held without delete sharing while a program is copied in and started, so that neither
// can be renamed or swapped for a link in between; security is set through the handle.
// Header-only, kernel and advapi32 only: the uninstaller launcher uses it too.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "setup/core/handles.h"

inline constexpr wchar_t kProtectedFolderDacl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
inline constexpr wchar_t kProtectedFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// An installation folder outside the Program Files folders would otherwise inherit what
// its parent grants (on a data drive, Authenticated Users may modify), and its programs
// are later started elevated. Users may read and run what the install writes.
inline constexpr wchar_t kInstallFolderDacl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

inline bool ParseSecurityDescriptor(const wchar_t* sddl, UniqueLocalMemory& descriptor) {
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(
             sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr) != FALSE;
}

inline std::wstring ProtectedFolderParent(const std::wstring& path) {
  size_t last = path.find_last_of(L"\\/");
  return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

inline bool IsFolderNoLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Plain folders above the protected ones (ProgramData itself normally exists).
inline bool EnsurePlainFolderChain(const std::wstring& path) {
  if (path.size() <= 3) return true;
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  if (!EnsurePlainFolderChain(ProtectedFolderParent(path))) return false;
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// The folder itself, never what a link leads to, held so that nobody can rename or
// delete it; none when it is not a real folder. Windows answers by the handle; the
// name is asked as well because Wine opens the target of a Unix symlink.
inline UniqueFile OpenFolderNoLink(const std::wstring& path, DWORD access) {
  if (!IsFolderNoLink(GetFileAttributesW(path.c_str()))) return {};
  UniqueFile folder(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!folder || !GetFileInformationByHandle(folder.get(), &information) ||
      !IsFolderNoLink(information.dwFileAttributes)) {
    return {};
  }
  return folder;
}

inline bool IsOwnTokenUser(PSID sid) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &length)) return false;
  return EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid) != FALSE;
}

// Administrators or SYSTEM. Our own account also counts once the system has accepted our
// reset of the owner: Windows then reads back Administrators, but Wine keeps reporting
// the account that runs it as the owner of every file.
inline bool HasTrustedOwner(HANDLE folder, bool ownerWasReset) {
  PSID owner = nullptr;
  UniqueLocalMemory descriptor;
  DWORD result = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                 nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  if (result != ERROR_SUCCESS || owner == nullptr) return false;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid)) return true;
  return ownerWasReset && IsOwnTokenUser(owner);
}

// Owner Administrators, the protected DACL; false when the system refused either.
inline bool ResetProtectedSecurity(HANDLE folder) {
  UniqueLocalMemory descriptor;
  if (!ParseSecurityDescriptor(kProtectedFolderSddl, descriptor)) return false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted)) {
    return false;
  }
  SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                              PROTECTED_DACL_SECURITY_INFORMATION;
  return SetSecurityInfo(folder, SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// "installer-temp" and its parent, held for as long as this lives.
struct HeldInstallerTemp {
  UniqueFile parent;
  UniqueFile folder;
};

// Creates "installer-temp" protected, or takes an existing one back through its handle,
// below a parent that is held meanwhile; the parent is created plain when missing and
// never changed. False when either is a link or not a folder, or cannot be trusted.
inline bool HoldProtectedInstallerTemp(const std::wstring& temporaryFolder, HeldInstallerTemp& held) {
  const std::wstring product = ProtectedFolderParent(temporaryFolder);
  if (product.empty() || !EnsurePlainFolderChain(product)) return false;
  held.parent = OpenFolderNoLink(product, FILE_LIST_DIRECTORY | SYNCHRONIZE);
  if (!held.parent) return false;
  if (GetFileAttributesW(temporaryFolder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Protected from its first moment, so that nobody can add anything before the reset.
    UniqueLocalMemory descriptor;
    if (!ParseSecurityDescriptor(kProtectedFolderDacl, descriptor)) return false;
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor.get(), FALSE};
    if (!CreateDirectoryW(temporaryFolder.c_str(), &security) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  held.folder = OpenFolderNoLink(temporaryFolder, FILE_LIST_DIRECTORY | READ_CONTROL | WRITE_DAC | WRITE_OWNER |
                                                      SYNCHRONIZE);
  if (!held.folder) return false;
  const bool reset = ResetProtectedSecurity(held.folder.get());
  return HasTrustedOwner(held.folder.get(), reset);
}
