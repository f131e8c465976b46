#include "setup/core/long_path.h"

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Only backslashes, and no "." or ".." segment: what the prefix passes on unchanged.
bool IsNormalised(const std::wstring& path) {
  if (path.find(L'/') != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring_view segment(path.data() + start, end - start);
    if (segment == L"." || segment == L"..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::wstring LongPath(const std::wstring& path) {
  if (!IsNormalised(path)) return path;
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.') {
    return L"\\\\?\\UNC\\" + path.substr(2);
  }
  return path;
}
