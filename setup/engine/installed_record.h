// The installed-files record ".install-manifest": the manifest text, written into the
// staging folder as a hidden UTF-8 file, read again at uninstall.
#pragma once

#include <string>

inline constexpr wchar_t kInstalledRecordName[] = L".install-manifest";
inline constexpr unsigned kMaxInstalledRecordBytes = 1048576;

// Creates a new hidden file holding the text as UTF-8 (no BOM), flushed; never overwrites.
bool WriteUtf8TextFile(const std::wstring& path, const std::wstring& text);
