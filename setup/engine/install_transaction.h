// The install as one transaction: staged, verified, swapped into place, registered,
// and rolled back on any failure.
#pragma once

#include <windows.h>

#include <string>

// progressTarget: address of a variable holding the setup window, or null when silent.
// On failure stores one message in the current language and returns false.
bool InstallPackage(const std::wstring& installFolder, const HWND* progressTarget, std::wstring& message);
// True when a failure message of InstallPackage refuses the folder itself: only another
// folder can get past it, so the window lets the user choose one.
bool IsFolderRefusal(const std::wstring& message);
// folder + suffix + "-" + process id + "-" + GetTickCount64().
std::wstring MakeWorkFolderPath(const std::wstring& folder, const wchar_t* suffix);
// Removes a folder tree, read-only files included, never following links: a folder that
// is itself a link is removed as the link. A missing path or a file counts as done.
bool DeleteTree(const std::wstring& folder);
