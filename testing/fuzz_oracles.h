// Plain second readings of the text rules, for the fuzzers to compare the parsers with.
#pragma once

#include <cstdint>
#include <cwchar>
#include <string>

inline bool IsOracleHexDigest(const std::wstring& digest) {
  return digest.size() == 64 && digest.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

// A number as wcstoull reads it: white space, an optional sign (minus negates modulo
// 2^64), digits, anything after them ignored. "unsure" when a non-ASCII character
// stands before the digits (whether it counts as white space is the C library's call).
inline bool OracleReadNumber(const std::wstring& text, std::uint64_t& value, bool& negative, bool& unsure) {
  std::size_t i = text.find_first_not_of(L" \t\n\v\f\r");
  i = i == std::wstring::npos ? text.size() : i;
  if (i < text.size() && text[i] > 0x7f) unsure = true;
  negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::size_t first = i;
  value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    std::uint64_t digit = std::uint64_t(text[i] - L'0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return i != first;
}

inline bool OracleValidRelativePath(const std::wstring& path) {
  if (path.empty() || path.size() > 240 || path.find(L':') != std::wstring::npos) return false;
  std::wstring segment;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\' && path[i] != L'/') {
      if (path[i] < 0x20 || wcschr(L"<>\"|?*", path[i])) return false;
      segment += path[i];
      continue;
    }
    if (segment.empty() || segment == L"." || segment == L".." || wcschr(L". ", segment.back())) return false;
    segment.clear();
  }
  return true;
}
