// An update killed between moving the old installation aside and moving the new one
// into place leaves the registered folder missing and the old installation in its
// backup folder. This puts such a backup back before the next update starts.
#pragma once

#include <string>
#include <vector>

// When the folder does not exist and exactly one "<folder>.backup-<pid>-<tick>" sibling
// (a real folder, not a link) holds an installed-files record, renames that sibling back
// to the folder. True only when it did; anything else leaves the disk as it was.
bool RestoreStrandedBackup(const std::wstring& installFolder);

// "<folder>.staging-<pid>-<tick>" siblings (real folders) left by a run that was killed:
// they never hold an installation, only part of a new one.
std::vector<std::wstring> StaleStagingFolders(const std::wstring& installFolder);
// "<folder>.backup-<pid>-<tick>" siblings (real folders): while the folder itself holds
// an installation, what an update killed after its swap left behind.
std::vector<std::wstring> StaleBackupFolders(const std::wstring& installFolder);
