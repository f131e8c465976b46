// Benchmark floor for the install, linked by scripts/bench-install with a package's
// resources: the least work the install's algorithm needs and nothing else. For every
// manifest line, in order: create the file, write the resource in one call, flush,
// read it back and hash it with BCrypt SHA-256. No transaction, no staging, no checks
// beyond the digest. Prints the seconds taken.
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "setup/core/crypto_handles.h"
#include "setup/core/handles.h"

namespace {

std::string_view Resource(int id) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return data ? std::string_view(data, SizeofResource(nullptr, found)) : std::string_view();
}

void CreateParents(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
  }
}

bool WriteAndHash(const std::wstring& path, std::string_view bytes, BCRYPT_ALG_HANDLE sha, std::vector<char>& block) {
  CreateParents(path);
  {
    UniqueFile out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_WRITE_THROUGH, nullptr));
    DWORD written = 0;
    if (!out || !WriteFile(out.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
        !FlushFileBuffers(out.get())) {
      return false;
    }
  }
  UniqueFile in(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  UniqueHash hash;
  if (!in || BCryptCreateHash(sha, hash.put(), nullptr, 0, nullptr, 0, 0) < 0) return false;
  DWORD read = 0;
  while (ReadFile(in.get(), block.data(), DWORD(block.size()), &read, nullptr) && read > 0) {
    BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(block.data()), read, 0);
  }
  UCHAR digest[32];
  return BCryptFinishHash(hash.get(), digest, sizeof(digest), 0) >= 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 87;
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceCounter(&start);
  std::string_view manifest = Resource(1000);
  UniqueAlgorithmProvider sha;
  if (BCryptOpenAlgorithmProvider(sha.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return 2;
  std::vector<char> block(1 << 20);
  size_t files = 0;
  for (size_t at = 0; at < manifest.size();) {
    size_t end_of_line = manifest.find('\n', at);
    std::string line(manifest.substr(at, end_of_line == std::string_view::npos ? std::string_view::npos : end_of_line - at));
    at = end_of_line == std::string_view::npos ? manifest.size() : end_of_line + 1;
    size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
    if (tab1 == std::string::npos || tab2 == std::string::npos) continue;
    std::string relative = line.substr(tab1 + 1, tab2 - tab1 - 1);
    std::wstring path = argv[1];
    path += L'\\';
    for (char c : relative) path += c == '/' ? L'\\' : wchar_t(c);  // the benchmark's names are ASCII
    if (!WriteAndHash(path, Resource(std::atoi(line.c_str())), sha.get(), block)) return 3;
    ++files;
  }
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);
  std::printf("%zu files %.3f s\n", files, double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
  return 0;
}
