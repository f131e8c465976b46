// The product's uninstall registry entry and its two shortcuts.
#pragma once

#include <string>

bool RegisterUninstallEntry(const std::wstring& installFolder, const std::wstring& version);
bool CreateShortcuts(const std::wstring& installFolder);
void RemoveShortcuts();
bool CreateShellLink(const std::wstring& shortcutPath, const std::wstring& installFolder);
// Deletes the uninstall key in the 64-bit view; true when gone or never there.
bool DeleteUninstallEntry();
