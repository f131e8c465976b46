#include "setup/core/resources.h"

#include <windows.h>

std::wstring DecodeUtf8(const char* bytes, std::int32_t length) {
  if (bytes == nullptr || length < 1) return {};
  int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
  if (wide <= 0) return {};
  try {
    std::wstring text(size_t(wide), L'\0');
    int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, text.data(), wide);
    if (written != wide) return {};
    return text;
  } catch (...) {
    return {};
  }
}

std::string_view LoadResourceBytes(int resourceId) {
  // Integer resource ids are 16-bit: MAKEINTRESOURCEW keeps the low 16 bits.
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return {};
  DWORD size = SizeofResource(nullptr, found);
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr || size == 0) return {};
  return std::string_view(static_cast<const char*>(bytes), size);
}
