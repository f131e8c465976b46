// One spelling per folder. The elevated programs decide by comparing folders, and a
// folder has many names (8.3 short names, letter case, forward slashes, "." segments);
// Windows also silently drops trailing spaces and dots and maps device names, so a
// checked name and the folder later written could differ. Every folder a decision is
// made on is made into this record once, and compared only as such.
#pragma once

#include <optional>
#include <string>

struct FolderIdentity {
  // Absolute, backslashes, drive letter upper-case, no trailing separator; the part that
  // exists in its long form with the case it has on disk.
  std::wstring path;
};

// Empty when refused: what NormalizeFolderPath refuses, or any segment that ends in a
// space or a dot, names a device ("NUL", "COM1", "nul.txt"), or holds a character no
// file name may hold. Applied to its own result it gives the same result.
std::optional<FolderIdentity> IdentifyFolder(const std::wstring& text);
bool IsSameFolder(const FolderIdentity& a, const FolderIdentity& b);
// Strictly below it.
bool IsInsideFolder(const FolderIdentity& inner, const FolderIdentity& outer);
// The folder the file lies in, or nothing when that is not a folder we accept.
std::optional<FolderIdentity> IdentifyFolderOf(const std::wstring& filePath);
