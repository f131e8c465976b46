// SHA-256 of a file through BCrypt, as 64 upper-case hex digits: what the engine
// verifies staged files with and the runtime step verifies its package with.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "setup/core/crypto_handles.h"

// Of a file opened for reading, from its first byte. On false the output is unchanged.
bool ComputeOpenFileSha256(HANDLE file, std::wstring& digest);

// One provider, hash object and read block for hashing many files in a row: opening a
// provider and allocating the block cost more under Wine than hashing a small file.
// Used by one thread at a time; never moved once opened (the hash lives in hashObject).
struct Sha256Hasher {
  UniqueAlgorithmProvider provider;
  std::vector<UCHAR> hashObject;  // declared before the hash that lives in it
  UniqueHash hash;
  bool reusable = false;  // finishing resets the hash for the next file
  DWORD digestLength = 0;
  std::unique_ptr<UCHAR[]> block;
};

bool OpenSha256Hasher(Sha256Hasher& hasher);
// Hashes the file from its start; length: the bytes read. On false the outputs are unchanged.
bool HashFileSha256(Sha256Hasher& hasher, const std::wstring& path, std::wstring& digest, std::uint64_t& length);
