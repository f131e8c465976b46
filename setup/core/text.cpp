#include "setup/core/text.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <vector>

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreAsciiCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::wstring DecimalText(std::uint64_t value) { return std::to_wstring(value); }

namespace {

template <typename T, typename Convert>
std::optional<T> ReadWith(const std::wstring& text, bool requireEnd, Convert convert) {
  const wchar_t* start = text.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  auto value = convert(start, &end, 10);
  if (end == start || errno == ERANGE) return std::nullopt;
  if (requireEnd && end != start + text.size()) return std::nullopt;
  return static_cast<T>(value);
}

}  // namespace

std::optional<std::uint32_t> ReadUnsigned32(const std::wstring& text, bool requireEnd) {
  return ReadWith<std::uint32_t>(text, requireEnd, std::wcstoul);
}

std::optional<std::uint64_t> ReadUnsigned64(const std::wstring& text, bool requireEnd) {
  return ReadWith<std::uint64_t>(text, requireEnd, std::wcstoull);
}

std::optional<std::int32_t> ReadSigned32(const std::wstring& text, bool requireEnd) {
  return ReadWith<std::int32_t>(text, requireEnd, std::wcstol);
}

bool IsHexDigest(std::wstring_view text) {
  if (text.size() != 64) return false;
  for (wchar_t c : text) {
    bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!hex) return false;
  }
  return true;
}

std::wstring ReadEnvironmentVariable(const wchar_t* name) {
  constexpr DWORD kBufferSize = 32768;
  std::vector<wchar_t> buffer(kBufferSize, L'\0');
  DWORD length = GetEnvironmentVariableW(name, buffer.data(), kBufferSize);
  if (length == 0 || length >= kBufferSize) return {};
  return std::wstring(buffer.data(), length);
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string out(size_t(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), length, nullptr, nullptr);
  return out;
}
