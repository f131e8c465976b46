// Makes sure the desktop runtime 8 is present, downloading and installing it silently
// when it is missing.
#pragma once

#include <windows.h>

#include <string>

// On failure stores one message in the current language; on success leaves it alone.
bool EnsureDesktopRuntime(const HWND* progressTarget, std::wstring& message);
// Installer temporary folder\windowsdesktop-runtime-<process id>.download
std::wstring RuntimePackagePath();
