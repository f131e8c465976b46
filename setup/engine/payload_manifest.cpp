#include "setup/engine/payload_manifest.h"

#include <windows.h>

#include <climits>
#include <unordered_set>

#include "setup/core/paths.h"
#include "setup/core/resources.h"
#include "setup/core/text.h"
#include "setup/engine/installed_record.h"

namespace {

constexpr std::int32_t kFirstPayloadResourceId = PayloadManifestResourceId + 1;
// Resource identifiers are 16-bit: a larger one would name a smaller resource.
constexpr std::int32_t kLastPayloadResourceId = 65535;

// The next field up to a tab (or the end of the line). False when the line has
// nothing left: a field may be empty only when its tab follows at once.
bool ReadField(const std::wstring& line, size_t& position, std::wstring& field) {
  if (position >= line.size()) return false;
  size_t tab = line.find(L'\t', position);
  size_t end = tab == std::wstring::npos ? line.size() : tab;
  field.assign(line, position, end - position);
  position = tab == std::wstring::npos ? line.size() : tab + 1;
  return true;
}

bool ParseLine(const std::wstring& line, PayloadEntry& entry) {
  size_t position = 0;
  std::wstring id, path, size, digest;
  if (!ReadField(line, position, id) || !ReadField(line, position, path) ||
      !ReadField(line, position, size) || !ReadField(line, position, digest)) {
    return false;
  }
  if (!IsValidRelativePath(path) || !IsHexDigest(digest)) return false;
  std::optional<std::int32_t> resourceId = ReadSigned32(id, false);
  std::optional<std::uint64_t> length = ReadUnsigned64(size, false);
  if (!resourceId || !length) return false;
  if (*resourceId < kFirstPayloadResourceId || *resourceId > kLastPayloadResourceId || *length == 0) return false;
  entry.resourceId = *resourceId;
  entry.relativePath = std::move(path);
  entry.size = *length;
  entry.sha256 = std::move(digest);
  return true;
}

std::wstring FoldedPath(const std::wstring& path) {
  std::wstring folded = path;
  for (wchar_t& c : folded) c = FoldAscii(c);
  return folded;
}

// The next line without its line feed and without one carriage return at its end.
std::wstring TakeLine(const std::wstring& text, size_t& position) {
  size_t feed = text.find(L'\n', position);
  size_t end = feed == std::wstring::npos ? text.size() : feed;
  std::wstring line(text, position, end - position);
  position = feed == std::wstring::npos ? text.size() : feed + 1;
  if (!line.empty() && line.back() == L'\r') line.pop_back();
  return line;
}

bool ParseLines(const std::wstring& text, std::vector<PayloadEntry>& entries) {
  // Sets give the same answer as comparing with every accepted entry, without the
  // quadratic cost on a package of tens of thousands of files.
  std::unordered_set<std::int32_t> ids;
  std::unordered_set<std::wstring> paths;
  size_t position = 0;
  while (position < text.size()) {
    // The record is this text as it stands, and its reader counts an empty line as an
    // unreadable one: a package that has one could be installed but never removed.
    std::wstring line = TakeLine(text, position);
    if (line.empty()) return false;
    PayloadEntry entry;
    if (!ParseLine(line, entry)) return false;
    if (!ids.insert(entry.resourceId).second) return false;
    if (!paths.insert(FoldedPath(entry.relativePath)).second) return false;
    entries.push_back(std::move(entry));
  }
  return !entries.empty();
}

}  // namespace

bool ParsePayloadManifest(const std::wstring& text, std::vector<PayloadEntry>& entries) {
  // Packages are built without a byte-order mark; one here means the manifest was
  // edited by hand, and the record written from it would carry the mark too.
  if (!text.empty() && text.front() == L'\xFEFF') return false;
  try {
    return ParseLines(text, entries);
  } catch (...) {
    return false;
  }
}

bool ReadPayloadManifest(std::vector<PayloadEntry>& entries, std::wstring& manifestText) {
  std::string_view bytes = LoadResourceBytes(PayloadManifestResourceId);
  // The record written from it must stay readable at uninstall.
  if (bytes.empty() || bytes.size() > kMaxInstalledRecordBytes) return false;
  manifestText = DecodeUtf8(bytes.data(), std::int32_t(bytes.size()));
  if (manifestText.empty()) return false;
  return ParsePayloadManifest(manifestText, entries);
}
