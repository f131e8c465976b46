// The setup program's command line: switches are whole arguments compared with
// ASCII case folding; a switch's value is the argument after it.
#pragma once

#include <string>
#include <vector>

using ArgumentList = std::vector<std::wstring>;

inline constexpr wchar_t kQuietSwitch[] = L"/quiet";
inline constexpr wchar_t kUninstallSwitch[] = L"/uninstall";
inline constexpr wchar_t kUninstallWorkerSwitch[] = L"/uninstall-worker";
inline constexpr wchar_t kInstallDirSwitch[] = L"/install-dir";
inline constexpr wchar_t kTargetSwitch[] = L"/target";
inline constexpr wchar_t kWaitPidSwitch[] = L"/wait-pid";
inline constexpr wchar_t kUpdateSwitch[] = L"/update";
inline constexpr wchar_t kRepairSwitch[] = L"/repair";
inline constexpr wchar_t kLogSwitch[] = L"/log";

// The process's own command line without the program name; empty if it cannot be split.
ArgumentList ReadArgumentList();
bool HasSwitch(const ArgumentList& arguments, const wchar_t* name);
std::wstring FindSwitchValue(const ArgumentList& arguments, const wchar_t* name);
