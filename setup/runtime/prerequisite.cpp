#include "setup/runtime/prerequisite.h"

bool EnsureDesktopRuntime(const HWND*, std::wstring&) { return true; }
