// Helpers shared by the in-process tests: scratch folders and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "setup/core/handles.h"
#include "setup/engine/fault_injection.h"
#include "testing/scratch_folder.h"

namespace engine_test {

// Resource 1001 of the engine tests' program and its digest.
constexpr char kPayload[] = "Velmora test payload\n";
constexpr wchar_t kPayloadDigest[] = L"E798DD26964403CE27304D239928E5B45DC415E26BDBB0F98EF2ADAE17559FE8";

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  return out.write(bytes.data(), bytes.size()).flush().good();
}

// Empty also when the file cannot be read.
inline std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace engine_test
