#include "setup/engine/registration.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <knownfolders.h>

#include <utility>

#include "setup/core/existing_install.h"
#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/language.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"
#include "setup/engine/running_app.h"

namespace {

constexpr wchar_t kUninstallerName[] = L"Uninstall.exe";
constexpr wchar_t kPublisher[] = L"Quenlo";
// In the order they are handled; the third is an old name that is only ever removed.
constexpr const wchar_t* kShortcutNames[] = {L"岫澜.lnk", L"Velmora.lnk", L"岫澜 (Velmora).lnk"};

bool SetStringValue(HKEY key, const wchar_t* name, const std::wstring& text) {
  const auto size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  LSTATUS result = engineCalls.setRegistryValue(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                                size);
  if (result != ERROR_SUCCESS) LogEvent(L"registry value ", name, L" not written: ", SystemError{DWORD(result)});
  if (result == ERROR_SUCCESS) LogEvent(L"registry value ", name, L" = \"", text, L"\"");
  return result == ERROR_SUCCESS;
}

void SetDwordValue(HKEY key, const wchar_t* name, DWORD value) {
  LSTATUS result =
      engineCalls.setRegistryValue(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  if (result != ERROR_SUCCESS) LogEvent(L"registry value ", name, L" not written: ", SystemError{DWORD(result)});
  if (result == ERROR_SUCCESS) LogEvent(L"registry value ", name, L" = ", value);
}

// Empty when the system cannot name the folder.
std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &raw);
  UniqueCoTaskMemory owner(raw);
  if (FAILED(result) || !raw) return {};
  return raw;
}

struct ShortcutFolders {
  std::wstring programs;
  std::wstring desktop;
};

ShortcutFolders TakeShortcutFolders() {
  return {KnownFolder(FOLDERID_CommonPrograms), KnownFolder(FOLDERID_PublicDesktop)};
}

std::wstring ShortcutPath(const std::wstring& folder, const wchar_t* name) {
  return folder.empty() ? std::wstring() : JoinPath(folder, name);
}

void DeleteShortcut(const ShortcutFolders& folders, const wchar_t* name) {
  if (!folders.programs.empty()) DeleteFileW(JoinPath(folders.programs, name).c_str());
  if (!folders.desktop.empty()) DeleteFileW(JoinPath(folders.desktop, name).c_str());
}

const wchar_t* ShortcutFileName() { return Tr(L"Velmora.lnk", L"岫澜.lnk"); }

}  // namespace

bool RegisterUninstallEntry(const std::wstring& installFolder, const std::wstring& version) {
  UniqueRegKey key;
  LSTATUS opened = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
  if (opened != ERROR_SUCCESS) {
    LogEvent(L"uninstall key not opened: ", SystemError{DWORD(opened)});
    return false;
  }
  const std::wstring uninstaller = JoinPath(installFolder, kUninstallerName);
  const std::wstring uninstallString = L"\"" + uninstaller + L"\" /uninstall";
  const std::pair<const wchar_t*, std::wstring> strings[] = {
      {L"DisplayName", Tr(kProductName)},
      {L"DisplayVersion", version},
      {L"Publisher", kPublisher},
      {L"InstallLocation", installFolder},
      {L"DisplayIcon", uninstaller + L",0"},
      {L"UninstallString", uninstallString},
      {L"QuietUninstallString", uninstallString + L" /quiet"},
  };
  bool written = true;
  for (const auto& [name, text] : strings) {
    if (!SetStringValue(key.get(), name, text)) {
      written = false;
      break;
    }
  }
  RegDeleteValueW(key.get(), L"ModifyPath");
  SetDwordValue(key.get(), L"NoModify", 1);
  SetDwordValue(key.get(), L"NoRepair", 1);
  return written;
}

bool DeleteUninstallEntry() {
  LSTATUS result = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, KEY_WOW64_64KEY, 0);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool CreateShellLink(const std::wstring& shortcutPath, const std::wstring& installFolder) {
  if (shortcutPath.empty()) return false;
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
    return false;
  }
  const std::wstring target = JoinPath(installFolder, kApplicationExeName);
  if (FAILED(link->SetPath(target.c_str())) || FAILED(link->SetWorkingDirectory(installFolder.c_str())) ||
      FAILED(link->SetIconLocation(target.c_str(), 0))) {
    return false;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
  HRESULT saved = engineCalls.saveShortcut(file.get(), shortcutPath.c_str(), TRUE);
  if (FAILED(saved)) LogEvent(L"shortcut \"", shortcutPath, L"\" not saved: ", SystemError{DWORD(saved)});
  if (SUCCEEDED(saved)) LogEvent(L"shortcut \"", shortcutPath, L"\" -> \"", target, L"\"");
  return SUCCEEDED(saved);
}

bool CreateShortcuts(const std::wstring& installFolder) {
  const wchar_t* name = ShortcutFileName();
  const ShortcutFolders folders = TakeShortcutFolders();
  if (!CreateShellLink(ShortcutPath(folders.programs, name), installFolder)) return false;
  if (!CreateShellLink(ShortcutPath(folders.desktop, name), installFolder)) return false;
  for (const wchar_t* other : kShortcutNames) {
    if (!EqualsIgnoreAsciiCase(other, name)) DeleteShortcut(folders, other);
  }
  return true;
}

void RemoveShortcuts() {
  const ShortcutFolders folders = TakeShortcutFolders();
  for (const wchar_t* name : kShortcutNames) DeleteShortcut(folders, name);
}
