// Is the application running from a given folder; and the per-user clean-up at uninstall.
#pragma once

#include <string>

#include "setup/core/folder_identity.h"

inline constexpr wchar_t kApplicationExeName[] = L"Velmora.exe";

// True also when the process list cannot be taken.
bool IsApplicationRunning(const FolderIdentity& installFolder);
void RemoveUpdateCache();
