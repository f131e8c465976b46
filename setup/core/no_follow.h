// Files and folders opened and deleted as themselves: a link is never followed, so
// nothing it leads to is touched, whatever a racing process puts in its place.
#pragma once

#include <windows.h>

#include <string>

#include "setup/core/handles.h"

// An entry opened by name as itself, with the attributes its handle reports.
struct OpenedEntry {
  UniqueFile handle;
  DWORD attributes = 0;
};

enum class OpenOutcome {
  kOpened,
  kMissing,
  // The system went through a link although asked not to (Wine does so for Unix
  // symlinks): nothing may be done through such a handle, so none is kept.
  kNotItself,
  kFailed,
};

// The name the system gives an open entry ("\\?\C:\..."), empty when it cannot say.
std::wstring FinalPathOf(HANDLE handle);
// What FinalPathOf must report for `path` opened as itself: its folder's final path
// and its own name. Empty when the folder cannot be opened.
std::wstring ExpectedFinalPath(const std::wstring& path);
// `expectedFinal` comes from ExpectedFinalPath, or from a held parent's FinalPathOf
// and the entry's name.
OpenOutcome OpenEntryItself(const std::wstring& path, const std::wstring& expectedFinal, DWORD access,
                            DWORD share, OpenedEntry& entry);
bool IsLink(const OpenedEntry& entry);
bool IsPlainDirectory(const OpenedEntry& entry);
// Deletes what the handle names (a folder must be empty); a read-only file loses that
// attribute only when the system refuses it for that reason. The handle needs DELETE
// and, for a read-only file, FILE_WRITE_ATTRIBUTES.
bool DeleteOpenedEntry(const OpenedEntry& entry);

enum class FileDeletion {
  kDeleted,
  kMissing,
  // A folder, or a link to one: opened only as a file, so untouched; the caller takes
  // the way of OpenEntryItself, which tells them apart.
  kNotAFile,
  kFailed,
};
// A file, or a link to one, removed as itself with one open, one name check and the
// deletion: the common case of a file listed for removal.
FileDeletion DeleteFileItself(const std::wstring& path, const std::wstring& expectedFinal);
// Removes the folder only when it is a plain, empty folder; a link or a file stays.
bool RemoveEmptyFolderItself(const std::wstring& path, const std::wstring& expectedFinal);
