// The installed-files record ".install-manifest": the manifest text, written into the
// staging folder as a hidden UTF-8 file, read again at uninstall.
#pragma once

#include <string>

inline constexpr wchar_t kInstalledRecordName[] = L".install-manifest";
inline constexpr unsigned kMaxInstalledRecordBytes = 1048576;

// Creates a new hidden file holding the text as UTF-8 (no BOM), flushed; never overwrites.
bool WriteUtf8TextFile(const std::wstring& path, const std::wstring& text);

// The folder's record as text: false when it is missing, empty, over 1 MiB or not UTF-8.
bool ReadInstalledRecord(const std::wstring& folder, std::wstring& text);

// A record that uninstall could follow: what a complete run of the transaction leaves,
// and what tells a folder of ours from someone else's.
bool HoldsInstalledRecord(const std::wstring& folder);
