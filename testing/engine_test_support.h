// Helpers shared by the engine's in-process tests: scratch folders, whole-file reads
// and writes, registry reads, the machine-wide state lock and injected faults.
#pragma once

#include <windows.h>

#include <string>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"
#include "setup/engine/install_transaction.h"
#include "testing/scratch_folder.h"

namespace engine_test {

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// Empty also when the file cannot be read.
inline std::string ReadBytes(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) return {};
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return {};
  }
  bytes.resize(read);
  return bytes;
}

inline bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// {type, data bytes} of a value under HKLM in the 64-bit view; type 0 when absent.
struct RegistryValue {
  DWORD type = 0;
  std::string data;
};

inline RegistryValue ReadMachineValue(const wchar_t* keyPath, const wchar_t* name) {
  UniqueRegKey key;
  RegistryValue value;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    return value;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return {};
  value.data.resize(size);
  RegQueryValueExW(key.get(), name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()), &size);
  return value;
}

// Puts the real calls back when the test ends, whatever fakes it installed.
class InjectedFaults {
 public:
  InjectedFaults() { engineCalls = RealEngineCalls(); }
  ~InjectedFaults() { engineCalls = RealEngineCalls(); }
  InjectedFaults(const InjectedFaults&) = delete;
  InjectedFaults& operator=(const InjectedFaults&) = delete;
};

}  // namespace engine_test
