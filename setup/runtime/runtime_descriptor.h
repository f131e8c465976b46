// Where the desktop runtime's installer is downloaded from, how long it is and its
// SHA-256: one tab-separated line in the program's RCDATA 999.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int RuntimeDescriptorResourceId = 999;
inline constexpr std::uint64_t kMaxRuntimePackageSize = 536870912;  // 512 MiB

struct RuntimeDescriptor {
  std::wstring url;
  std::uint64_t size = 0;
  std::wstring sha256;  // letter case as written
};

// The rules on already decoded text. On false the record must not be used.
bool ParseRuntimeDescriptor(const std::wstring& text, RuntimeDescriptor& descriptor);
// False when the resource is missing, empty, not UTF-8 or breaks a rule.
bool ReadRuntimeDescriptor(RuntimeDescriptor& descriptor);
