// Makes sure the desktop runtime 8 is present, downloading and installing it silently
// when it is missing.
#pragma once

#include <windows.h>

#include <string>

#include "setup/core/handles.h"
#include "setup/runtime/runtime_descriptor.h"

// On failure stores one message in the current language; on success leaves it alone.
bool EnsureDesktopRuntime(const HWND* progressTarget, std::wstring& message);
// Installer temporary folder\windowsdesktop-runtime-<process id>.download
std::wstring RuntimePackagePath();
// Opens the package so that nobody can write, rename or delete it while the handle is
// held, and proves its size and digest through that handle; invalid when it is not
// the described package.
UniqueFile OpenVerifiedRuntimePackage(const std::wstring& path, const RuntimeDescriptor& descriptor);
