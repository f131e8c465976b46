// The installer temporary folder lives below ProgramData, where standard users may
// create folders: one of them could make <ProgramData>\Velmora first, as a link to a
// place of their choosing or as a folder they own, and have an elevated program write
// executables there. Both levels are therefore created with a protected DACL (SYSTEM
// and Administrators only, nothing inherited) and checked before each use.
// Header-only, kernel and advapi32 only: the uninstaller launcher uses it too.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "setup/core/handles.h"

inline constexpr wchar_t kProtectedFolderDacl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
inline constexpr wchar_t kProtectedFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

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
inline bool HasTrustedOwner(const std::wstring& path, bool ownerWasReset) {
  PSID owner = nullptr;
  UniqueLocalMemory descriptor;
  DWORD result = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                       nullptr, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  if (result != ERROR_SUCCESS || owner == nullptr) return false;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid)) return true;
  return ownerWasReset && IsOwnTokenUser(owner);
}

// Owner Administrators, the protected DACL; false when the system refused either.
inline bool ResetProtectedSecurity(const std::wstring& path) {
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
  return SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, what, owner, nullptr, dacl,
                               nullptr) == ERROR_SUCCESS;
}

// Creates the folder protected, or takes an existing one back; a link is never
// followed nor changed. False when the folder cannot be trusted.
inline bool EnsureProtectedFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Protected from its first moment, so that nobody can add anything before the reset.
    UniqueLocalMemory descriptor;
    if (!ParseSecurityDescriptor(kProtectedFolderDacl, descriptor)) return false;
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor.get(), FALSE};
    if (!CreateDirectoryW(path.c_str(), &security) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    attributes = GetFileAttributesW(path.c_str());
  }
  if (!IsFolderNoLink(attributes)) return false;
  bool reset = ResetProtectedSecurity(path);
  return IsFolderNoLink(GetFileAttributesW(path.c_str())) && HasTrustedOwner(path, reset);
}

// <ProgramData>\Velmora and <ProgramData>\Velmora\installer-temp, given the latter.
inline bool EnsureProtectedInstallerTemp(const std::wstring& temporaryFolder) {
  std::wstring product = ProtectedFolderParent(temporaryFolder);
  if (product.empty() || !EnsurePlainFolderChain(ProtectedFolderParent(product))) return false;
  return EnsureProtectedFolder(product) && EnsureProtectedFolder(temporaryFolder);
}
