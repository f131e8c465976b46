// The program's own RCDATA resources and the strict UTF-8 decoding that every text
// resource and the installed-files record go through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Empty for null, length < 1 or invalid UTF-8; a BOM and NULs are kept.
std::wstring DecodeUtf8(const char* bytes, std::int32_t length);
// The bytes of an RT_RCDATA resource of this program; empty view when missing or empty.
std::string_view LoadResourceBytes(int resourceId);
