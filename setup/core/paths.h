// Path operations and the rules for installation folders and packaged paths.
// Folders are absolute drive-letter paths with backslashes; comparisons fold A-Z only.
#pragma once

#include <string>

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// Everything before the last separator, or empty when there is none.
std::wstring ParentPath(const std::wstring& path);
bool EnsureDirectory(const std::wstring& path);
// Empty when refused: not 4-220 characters, not drive-letter absolute, or a drive root.
std::wstring NormalizeFolderPath(const std::wstring& path);
bool IsValidRelativePath(const std::wstring& path);
bool IsSafeInstallFolder(const std::wstring& path);
bool ResolveInsideFolder(const std::wstring& folder, const std::wstring& relativePath,
                         std::wstring& output);

// True when the path exists and is a directory (links included).
bool IsExistingDirectory(const std::wstring& path);
// ProgramData (or C:\ProgramData) joined with Velmora\installer-temp.
std::wstring InstallerTempFolder();
