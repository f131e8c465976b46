// Small text helpers shared by every area: ASCII-only case folding, decimal
// numbers as the C runtime reads and writes them, environment variables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

wchar_t FoldAscii(wchar_t c);
// Folds only A-Z, as every comparison of paths, names and switches must.
bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b);
bool StartsWithIgnoreAsciiCase(std::wstring_view text, std::wstring_view prefix);

// Plain decimal: no sign, leading zeros or grouping.
std::wstring DecimalText(std::uint64_t value);

// The whole text read as wcstoul/wcstoull/wcstol read it (white space, optional sign),
// with at least one digit, no overflow and, when requireEnd, nothing after the number.
std::optional<std::uint32_t> ReadUnsigned32(const std::wstring& text, bool requireEnd);
std::optional<std::uint64_t> ReadUnsigned64(const std::wstring& text, bool requireEnd);
std::optional<std::int32_t> ReadSigned32(const std::wstring& text, bool requireEnd);

bool IsHexDigest(std::wstring_view text);  // exactly 64 of 0-9, A-F, a-f

// Empty when the variable is unset, empty, or needs 32,768 characters or more.
std::wstring ReadEnvironmentVariable(const wchar_t* name);

std::string WideToUtf8(std::wstring_view text);
