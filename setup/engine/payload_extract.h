// Writing one packaged file from its resource and proving, by length and SHA-256 read
// back from the disk, that it is what the manifest promised.
#pragma once

#include <windows.h>

#include <string>

#include "setup/engine/payload_manifest.h"

// 64 upper-case hex digits; on false the output is unchanged.
bool ComputeFileSha256(const std::wstring& path, std::wstring& digest);
// The same through a handle opened for reading, from its first byte.
bool ComputeOpenFileSha256(HANDLE file, std::wstring& digest);
bool ExtractPayloadFile(const PayloadEntry& entry, const std::wstring& targetPath);
