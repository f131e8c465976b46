#include "setup/uninstall/uninstall_worker.h"

bool UninstallFromRecord(const std::wstring&) { return false; }
