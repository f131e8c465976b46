#include "setup/core/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "setup/core/crypto_handles.h"
#include "setup/core/long_path.h"
#include "setup/core/handles.h"

namespace {

constexpr DWORD kReadBlockSize = 1048576;

bool NtSuccess(NTSTATUS status) { return status >= 0; }

bool ZeroedBuffer(std::vector<UCHAR>& buffer, size_t size) {
  try {
    buffer.assign(size, 0);
    return true;
  } catch (...) {
    return false;
  }
}

bool ReadDwordProperty(BCRYPT_ALG_HANDLE provider, const wchar_t* name, DWORD& value) {
  ULONG written = 0;
  NTSTATUS status = BCryptGetProperty(provider, name, reinterpret_cast<PUCHAR>(&value), sizeof(value),
                                      &written, 0);
  return NtSuccess(status) && written == sizeof(value);
}

std::wstring UpperHex(const std::vector<UCHAR>& bytes) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  text.reserve(bytes.size() * 2);
  for (UCHAR b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

// Feeds the whole file to the hash in blocks of the read buffer's size.
bool HashFileContents(HANDLE file, BCRYPT_HASH_HANDLE hash, std::vector<UCHAR>& block) {
  while (true) {
    DWORD read = 0;
    if (!ReadFile(file, block.data(), DWORD(block.size()), &read, nullptr)) return false;
    if (read == 0) return true;
    if (!NtSuccess(BCryptHashData(hash, block.data(), read, 0))) return false;
  }
}

bool DigestOfOpenFile(HANDLE file, std::wstring& digest) {
  UniqueAlgorithmProvider provider;
  if (!NtSuccess(BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  DWORD objectLength = 0, digestLength = 0;
  if (!ReadDwordProperty(provider.get(), BCRYPT_OBJECT_LENGTH, objectLength) ||
      !ReadDwordProperty(provider.get(), BCRYPT_HASH_LENGTH, digestLength)) {
    return false;
  }
  // The hash object lives in this buffer, so the buffer is declared before its owner.
  std::vector<UCHAR> hashObject, digestBytes, block;
  if (!ZeroedBuffer(hashObject, objectLength) || !ZeroedBuffer(digestBytes, digestLength) ||
      !ZeroedBuffer(block, kReadBlockSize)) {
    return false;
  }
  UniqueHash hash;
  if (!NtSuccess(BCryptCreateHash(provider.get(), hash.put(), hashObject.data(), objectLength, nullptr, 0, 0))) {
    return false;
  }
  if (!HashFileContents(file, hash.get(), block)) return false;
  if (!NtSuccess(BCryptFinishHash(hash.get(), digestBytes.data(), digestLength, 0))) return false;
  try {
    digest = UpperHex(digestBytes);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool ComputeFileSha256(const std::wstring& path, std::wstring& digest) {
  UniqueFile file(CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  std::wstring computed;
  if (!DigestOfOpenFile(file.get(), computed)) return false;
  digest.swap(computed);
  return true;
}

bool ComputeOpenFileSha256(HANDLE file, std::wstring& digest) {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  std::wstring computed;
  if (!DigestOfOpenFile(file, computed)) return false;
  digest.swap(computed);
  return true;
}
