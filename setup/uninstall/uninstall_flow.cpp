#include "setup/uninstall/uninstall_flow.h"

int RunUninstallAndReport(const std::wstring&, bool) { return 3; }

int HandOffUninstall(const std::wstring&, bool) { return 3; }

std::wstring GetOwnProgramPath() { return {}; }
