// The product's entry under the system's uninstall key: where and which version is
// installed, and how that turns into a fresh install, an update, a repair or a refusal.
#pragma once

#include <string>

inline constexpr wchar_t kProductVersion[] = L"1.0.1";
inline constexpr wchar_t kUninstallKeyPath[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora";

// Empty when the key or value is missing, not REG_SZ, or longer than 1,024 characters.
std::wstring ReadUninstallValue(const wchar_t* valueName);
// -1 installed is older or unreadable, 0 same, 1 newer than kProductVersion.
int CompareVersions(const std::wstring& installedVersion);
std::wstring DefaultInstallFolder();

// True only when the system says the folder is not there (not found), not when it
// cannot be looked at: a registered folder deleted by hand.
bool IsMissingFolder(const std::wstring& folder);

enum class InstallModeOutcome { Fresh, Update, Repair, NotInstalled, NewerInstalled };

// The decision table of the install mode.
InstallModeOutcome DecideInstallMode(const std::wstring& installLocation,
                                     const std::wstring& installedVersion, bool repairSwitch,
                                     bool updateSwitch);
