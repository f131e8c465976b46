// SHA-256 of a file through BCrypt, as 64 upper-case hex digits: what the engine
// verifies staged files with and the runtime step verifies its package with.
#pragma once

#include <windows.h>

#include <string>

// On false the output is unchanged.
bool ComputeFileSha256(const std::wstring& path, std::wstring& digest);
// The same through a handle opened for reading, from its first byte.
bool ComputeOpenFileSha256(HANDLE file, std::wstring& digest);
