// Makes sure the desktop runtime 8 is present, downloading and installing it silently
// when it is missing.
#pragma once

#include <windows.h>

#include <string>

bool EnsureDesktopRuntime(const HWND* progressTarget, std::wstring& message);
