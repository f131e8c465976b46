#include "setup/core/paths.h"

#include <windows.h>

#include <iterator>
#include <vector>

#include "setup/core/folder_identity.h"
#include "setup/core/long_path.h"
#include "setup/core/text.h"

namespace {

constexpr DWORD kFullPathBufferSize = 32768;
constexpr size_t kMinFolderLength = 4;
constexpr size_t kMaxFolderLength = 220;
constexpr size_t kMaxRelativeLength = 240;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

void ToBackslashes(std::wstring& path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
}

// GetFullPathNameW; empty on failure or overflow. Most paths fit the stack buffer: a
// zero-filled 64 KiB heap buffer for every path cost more than the rest of a file's work.
std::wstring FullPath(const std::wstring& path) {
  wchar_t small[1024];
  DWORD length = GetFullPathNameW(path.c_str(), DWORD(std::size(small)), small, nullptr);
  if (length == 0) return {};
  if (length < std::size(small)) return std::wstring(small, length);
  std::vector<wchar_t> buffer(kFullPathBufferSize, L'\0');
  length = GetFullPathNameW(path.c_str(), kFullPathBufferSize, buffer.data(), nullptr);
  if (length == 0 || length >= kFullPathBufferSize) return {};
  return std::wstring(buffer.data(), length);
}

std::vector<std::wstring> SplitSegments(std::wstring path) {
  ToBackslashes(path);
  std::vector<std::wstring> segments;
  size_t start = 0;
  while (true) {
    size_t end = path.find(L'\\', start);
    segments.push_back(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return segments;
}

bool IsValidSegment(const std::wstring& segment) {
  if (segment.empty() || segment == L"." || segment == L"..") return false;
  if (segment.back() == L'.' || segment.back() == L' ') return false;
  for (wchar_t c : segment) {
    if (c < 0x20 || std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos) return false;
  }
  return true;
}

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsInsideWindowsFolder(const std::wstring& normalized) {
  wchar_t buffer[MAX_PATH] = {};
  UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  auto identity = IdentifyFolder(std::wstring(buffer, length));
  if (!identity) return false;
  const std::wstring& windows = identity->path;
  if (EqualsIgnoreAsciiCase(normalized, windows)) return true;
  return normalized.size() > windows.size() && StartsWithIgnoreAsciiCase(normalized, windows) &&
         normalized[windows.size()] == L'\\';
}

bool IsProtectedFolder(const std::wstring& normalized) {
  for (const wchar_t* name :
       {L"ProgramData", L"ProgramFiles", L"ProgramW6432", L"ProgramFiles(x86)", L"USERPROFILE"}) {
    std::wstring value = ReadEnvironmentVariable(name);
    if (value.empty()) continue;
    auto protectedFolder = IdentifyFolder(value);
    if (protectedFolder && EqualsIgnoreAsciiCase(normalized, protectedFolder->path)) return true;
  }
  return false;
}

// Every component below the drive root must be absent, or a real folder (the last
// may be anything but a link).
bool HasLinkOrFileOnTheWay(const std::wstring& normalized) {
  std::wstring sofar = normalized.substr(0, 3);
  for (const auto& segment : SplitSegments(normalized.substr(3))) {
    sofar = JoinPath(sofar, segment);
    DWORD attributes = GetFileAttributesW(LongPath(sofar).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    if (IsReparsePoint(attributes)) return true;
    if (sofar != normalized && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  }
  return false;
}

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\') return folder + name;
  return folder + L'\\' + name;
}

std::wstring ParentPath(const std::wstring& path) {
  size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring::npos) return {};
  return path.substr(0, last);
}

bool IsExistingDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EnsureDirectory(const std::wstring& path) {
  if (path.empty() || IsExistingDirectory(path)) return true;
  std::wstring parent = ParentPath(path);
  if (!parent.empty() && parent != path && !IsExistingDirectory(parent)) {
    if (!EnsureDirectory(parent)) return false;
  }
  return CreateDirectoryW(LongPath(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring NormalizeFolderPath(const std::wstring& path) {
  if (path.size() < kMinFolderLength || path.size() > kMaxFolderLength) return {};
  if (path[1] != L':' || !IsSeparator(path[2])) return {};
  std::wstring full = FullPath(path);
  if (full.empty()) return {};
  ToBackslashes(full);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (full.size() <= 3) return {};
  if (full.size() < kMinFolderLength || full.size() > kMaxFolderLength) return {};
  return full;
}

bool IsValidRelativePath(const std::wstring& path) {
  if (path.empty() || path.size() > kMaxRelativeLength) return false;
  if (IsSeparator(path.front()) || IsSeparator(path.back())) return false;
  if (path.find(L':') != std::wstring::npos) return false;
  for (const auto& segment : SplitSegments(path)) {
    if (!IsValidSegment(segment)) return false;
  }
  return true;
}

bool IsSafeInstallFolder(const std::wstring& path) {
  // Compared by identity: a short name of a protected folder is that folder.
  auto identity = IdentifyFolder(path);
  if (!identity) return false;
  const std::wstring& normalized = identity->path;
  if (IsInsideWindowsFolder(normalized) || IsProtectedFolder(normalized)) return false;
  return !HasLinkOrFileOnTheWay(normalized);
}

bool ResolveInsideFolder(const std::wstring& folder, const std::wstring& relativePath,
                         std::wstring& output) {
  std::wstring root = NormalizeFolderPath(folder);
  if (root.empty() || !IsValidRelativePath(relativePath)) return false;
  std::wstring full = FullPath(JoinPath(root, relativePath));
  if (full.empty()) return false;
  output = full;
  ToBackslashes(output);
  std::wstring prefix = root + L'\\';
  if (output.size() <= prefix.size() || !StartsWithIgnoreAsciiCase(output, prefix)) {
    output.clear();
    return false;
  }
  std::vector<std::wstring> segments = SplitSegments(relativePath);
  std::wstring sofar = root;
  for (size_t i = 0; i + 1 < segments.size(); ++i) {
    sofar = JoinPath(sofar, segments[i]);
    if (IsReparsePoint(GetFileAttributesW(LongPath(sofar).c_str()))) {
      output.clear();
      return false;
    }
  }
  return true;
}

std::wstring InstallerTempFolder() {
  std::wstring programData = ReadEnvironmentVariable(L"ProgramData");
  if (programData.empty()) programData = L"C:\\ProgramData";
  return JoinPath(programData, L"Velmora\\installer-temp");
}
