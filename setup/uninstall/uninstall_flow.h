// Uninstall always runs from a copy of the program outside the installation folder.
#pragma once

#include <cstdint>
#include <string>

#include "setup/core/folder_identity.h"

enum class UninstallOutcome { kRemoved, kApplicationRunning, kIncomplete };

// In place, from a temporary copy.
UninstallOutcome RunUninstallAndReport(const FolderIdentity& installFolder, bool quiet);
// Copies this program into the installer temporary folder and starts it in worker
// mode; false when the copy could not be made or started.
bool HandOffUninstall(const FolderIdentity& installFolder, bool quiet);
// Only a copy running from the installer temporary folder: the program in the
// installation folder, or the user's setup package, must survive the next restart.
void ScheduleOwnDeletionIfTemporary();
// Empty when the path cannot be read.
std::wstring GetOwnProgramPath();

// The worker copy's parameters; the folder is quoted so that it reads back unchanged.
std::wstring WorkerCommandLine(const std::wstring& installFolder, bool quiet);
