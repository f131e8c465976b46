#include "setup/engine/registration.h"

bool RegisterUninstallEntry(const std::wstring&, const std::wstring&) { return false; }
bool CreateShortcuts(const std::wstring&) { return false; }
void RemoveShortcuts() {}
bool CreateShellLink(const std::wstring&, const std::wstring&) { return false; }
bool DeleteUninstallEntry() { return false; }
