#include "setup/core/existing_install.h"

#include <windows.h>

#include "setup/core/handles.h"
#include "setup/core/long_path.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"

std::wstring ReadUninstallValue(const wchar_t* valueName) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) !=
      ERROR_SUCCESS) {
    return {};
  }
  constexpr DWORD kChars = 1024;
  wchar_t buffer[kChars] = {};
  DWORD type = 0;
  DWORD size = sizeof(buffer);
  LONG status = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  key.reset();
  if (status != ERROR_SUCCESS || type != REG_SZ) return {};
  size_t length = 0;
  while (length < kChars && buffer[length] != L'\0') ++length;
  return std::wstring(buffer, length);
}

struct VersionTriple {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned patch = 0;
};

static bool ParseVersion(const std::wstring& text, VersionTriple& version) {
  size_t first = text.find(L'.');
  if (first == std::wstring::npos) return false;
  size_t second = text.find(L'.', first + 1);
  if (second == std::wstring::npos) return false;
  if (text.find(L'.', second + 1) != std::wstring::npos) return false;
  std::wstring parts[3] = {text.substr(0, first), text.substr(first + 1, second - first - 1),
                           text.substr(second + 1)};
  unsigned numbers[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (parts[i].empty()) return false;
    auto number = ReadUnsigned32(parts[i], true);
    if (!number || *number > 65535) return false;
    numbers[i] = *number;
  }
  version = {numbers[0], numbers[1], numbers[2]};
  return true;
}

int CompareVersions(const std::wstring& installedVersion) {
  VersionTriple installed, product;
  if (!ParseVersion(installedVersion, installed) || !ParseVersion(kProductVersion, product)) return -1;
  const unsigned a[3] = {installed.major, installed.minor, installed.patch};
  const unsigned b[3] = {product.major, product.minor, product.patch};
  for (int i = 0; i < 3; ++i) {
    if (a[i] < b[i]) return -1;
    if (a[i] > b[i]) return 1;
  }
  return 0;
}

std::wstring DefaultInstallFolder() {
  std::wstring base = ReadEnvironmentVariable(L"ProgramFiles");
  if (base.empty()) base = L"C:\\Program Files";
  return JoinPath(base, L"Velmora");
}

bool IsMissingFolder(const std::wstring& folder) {
  if (GetFileAttributesW(LongPath(folder).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

InstallModeOutcome DecideInstallMode(const std::wstring& installLocation,
                                     const std::wstring& installedVersion, bool repairSwitch,
                                     bool updateSwitch) {
  if (installLocation.empty()) {
    return (repairSwitch || updateSwitch) ? InstallModeOutcome::NotInstalled : InstallModeOutcome::Fresh;
  }
  int comparison = CompareVersions(installedVersion);
  if (comparison > 0) return InstallModeOutcome::NewerInstalled;
  if (comparison == 0 || repairSwitch) return InstallModeOutcome::Repair;
  return InstallModeOutcome::Update;
}
