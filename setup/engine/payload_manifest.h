// The payload manifest (RCDATA 1000): one line per packaged file with its resource id,
// relative path, exact size and SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "setup/core/resources.h"

inline constexpr int PayloadManifestResourceId = 1000;

struct PayloadEntry {
  std::int32_t resourceId = 0;
  std::wstring relativePath;
  std::uint64_t size = 0;
  std::wstring sha256;
};

// The line rules on already decoded text; false on the first bad line.
bool ParsePayloadManifest(const std::wstring& text, std::vector<PayloadEntry>& entries);
bool ReadPayloadManifest(std::vector<PayloadEntry>& entries, std::wstring& manifestText);
