#include "setup/core/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <new>

#include "setup/core/handles.h"
#include "setup/core/long_path.h"

namespace {

constexpr DWORD kReadBlockSize = 1048576;

bool NtSuccess(NTSTATUS status) { return status >= 0; }

bool ReadDwordProperty(BCRYPT_ALG_HANDLE provider, const wchar_t* name, DWORD& value) {
  ULONG written = 0;
  NTSTATUS status = BCryptGetProperty(provider, name, reinterpret_cast<PUCHAR>(&value), sizeof(value),
                                      &written, 0);
  return NtSuccess(status) && written == sizeof(value);
}

bool UpperHex(const UCHAR* bytes, DWORD count, std::wstring& text) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  try {
    text.resize(size_t(count) * 2);
  } catch (...) {
    return false;
  }
  for (DWORD i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return true;
}

// Without the reusable flag (refused by older systems) a hash is made for every file.
bool ReadyHash(Sha256Hasher& hasher) {
  if (hasher.hash) return true;
  return NtSuccess(BCryptCreateHash(hasher.provider.get(), hasher.hash.put(), hasher.hashObject.data(),
                                    ULONG(hasher.hashObject.size()), nullptr, 0,
                                    hasher.reusable ? BCRYPT_HASH_REUSABLE_FLAG : 0));
}

bool HashOpenFile(Sha256Hasher& hasher, HANDLE file, std::wstring& digest, std::uint64_t& length) {
  if (!ReadyHash(hasher)) return false;
  std::uint64_t total = 0;
  bool fed = true;
  while (true) {
    DWORD read = 0;
    if (!ReadFile(file, hasher.block.get(), kReadBlockSize, &read, nullptr)) {
      fed = false;
      break;
    }
    if (read == 0) break;
    total += read;
    if (!NtSuccess(BCryptHashData(hasher.hash.get(), hasher.block.get(), read, 0))) {
      fed = false;
      break;
    }
  }
  // Finishing also resets a reusable hash for the next file, so it runs even after a failure.
  UCHAR bytes[64];
  bool finished = hasher.digestLength <= sizeof(bytes) &&
                  NtSuccess(BCryptFinishHash(hasher.hash.get(), bytes, hasher.digestLength, 0));
  if (!finished || !hasher.reusable) hasher.hash.reset();
  if (!fed || !finished) return false;
  std::wstring text;
  if (!UpperHex(bytes, hasher.digestLength, text)) return false;
  digest.swap(text);
  length = total;
  return true;
}

}  // namespace

bool OpenSha256Hasher(Sha256Hasher& hasher) {
  if (!NtSuccess(BCryptOpenAlgorithmProvider(hasher.provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  DWORD objectLength = 0;
  if (!ReadDwordProperty(hasher.provider.get(), BCRYPT_OBJECT_LENGTH, objectLength) ||
      !ReadDwordProperty(hasher.provider.get(), BCRYPT_HASH_LENGTH, hasher.digestLength)) {
    return false;
  }
  try {
    hasher.hashObject.assign(objectLength, 0);
  } catch (...) {
    return false;
  }
  hasher.block.reset(new (std::nothrow) UCHAR[kReadBlockSize]);
  if (!hasher.block) return false;
  hasher.reusable = true;
  if (ReadyHash(hasher)) return true;
  hasher.reusable = false;
  return ReadyHash(hasher);
}

bool HashFileSha256(Sha256Hasher& hasher, const std::wstring& path, std::wstring& digest, std::uint64_t& length) {
  UniqueFile file(CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  return HashOpenFile(hasher, file.get(), digest, length);
}

bool ComputeOpenFileSha256(HANDLE file, std::wstring& digest) {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  Sha256Hasher hasher;
  std::uint64_t length = 0;
  return OpenSha256Hasher(hasher) && HashOpenFile(hasher, file, digest, length);
}
