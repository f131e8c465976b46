// The payload manifest (RCDATA 1000): one line per packaged file with its resource id,
// relative path, exact size and SHA-256. Also the strict UTF-8 decoding every text
// resource and the installed-files record go through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int PayloadManifestResourceId = 1000;

struct PayloadEntry {
  std::int32_t resourceId = 0;
  std::wstring relativePath;
  std::uint64_t size = 0;
  std::wstring sha256;
};

// Empty for null, length < 1 or invalid UTF-8; a BOM and NULs are kept.
std::wstring DecodeUtf8(const char* bytes, std::int32_t length);
// The bytes of an RT_RCDATA resource of this program; empty view when missing or empty.
std::string_view LoadResourceBytes(int resourceId);
// The line rules on already decoded text; false on the first bad line.
bool ParsePayloadManifest(const std::wstring& text, std::vector<PayloadEntry>& entries);
bool ReadPayloadManifest(std::vector<PayloadEntry>& entries, std::wstring& manifestText);
