#include "setup/core/folder_identity.h"

#include <windows.h>

#include <string_view>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"

namespace {

constexpr size_t kMaxFolderLength = 220;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The name before its first dot, trailing spaces dropped, as Windows reads device names.
bool IsDeviceName(const std::wstring& segment) {
  std::wstring_view base(segment);
  base = base.substr(0, base.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (EqualsIgnoreAsciiCase(base, device)) return true;
  }
  if (base.size() != 4) return false;
  const bool numbered = (base[3] >= L'1' && base[3] <= L'9') || base[3] == L'\u00B9' || base[3] == L'\u00B2' ||
                        base[3] == L'\u00B3';
  return numbered && (EqualsIgnoreAsciiCase(base.substr(0, 3), L"COM") || EqualsIgnoreAsciiCase(base.substr(0, 3), L"LPT"));
}

bool IsAcceptedSegment(const std::wstring& segment) {
  if (segment.empty() || segment == L"." || segment == L"..") return true;  // resolved away
  if (segment.back() == L' ' || segment.back() == L'.') return false;
  for (wchar_t c : segment) {
    if (c < 0x20 || std::wstring_view(L"<>\"|?*:").find(c) != std::wstring_view::npos) return false;
  }
  return !IsDeviceName(segment);
}

// Every segment of the text as given: GetFullPathNameW would drop a trailing space or
// dot of the last one and keep it elsewhere, so the raw text is what must be judged.
bool HasOnlyAcceptedSegments(const std::wstring& text) {
  size_t start = 3;
  while (start <= text.size()) {
    size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    if (!IsAcceptedSegment(text.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// Each existing segment as the directory lists it: its long name and its case. The
// listing names the entry itself, so a link is named, not followed, at its own level.
std::wstring LongForm(const std::wstring& normalized) {
  std::wstring result = normalized.substr(0, 3);
  size_t start = 3;
  bool exists = true;
  while (start < normalized.size()) {
    size_t end = normalized.find(L'\\', start);
    if (end == std::wstring::npos) end = normalized.size();
    std::wstring segment = normalized.substr(start, end - start);
    if (exists) {
      WIN32_FIND_DATAW data;
      UniqueFind find(FindFirstFileW(JoinPath(result, segment).c_str(), &data));
      exists = static_cast<bool>(find);
      if (exists) segment = data.cFileName;
    }
    result = JoinPath(result, segment);
    start = end + 1;
  }
  return result;
}

}  // namespace

std::optional<FolderIdentity> IdentifyFolder(const std::wstring& text) {
  if (text.size() < 3 || !HasOnlyAcceptedSegments(text)) return std::nullopt;
  std::wstring normalized = NormalizeFolderPath(text);
  if (normalized.empty()) return std::nullopt;
  if (normalized[0] >= L'a' && normalized[0] <= L'z') normalized[0] = wchar_t(normalized[0] - L'a' + L'A');
  std::wstring path = LongForm(normalized);
  if (path.size() > kMaxFolderLength) return std::nullopt;
  return FolderIdentity{path};
}

bool IsSameFolder(const FolderIdentity& a, const FolderIdentity& b) { return EqualsIgnoreAsciiCase(a.path, b.path); }

bool IsInsideFolder(const FolderIdentity& inner, const FolderIdentity& outer) {
  return inner.path.size() > outer.path.size() + 1 && StartsWithIgnoreAsciiCase(inner.path, outer.path) &&
         inner.path[outer.path.size()] == L'\\';
}

std::optional<FolderIdentity> IdentifyFolderOf(const std::wstring& filePath) {
  std::wstring folder = ParentPath(filePath);
  if (folder.empty()) return std::nullopt;
  return IdentifyFolder(folder);
}
