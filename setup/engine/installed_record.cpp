#include "setup/engine/installed_record.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "setup/core/handles.h"
#include "setup/core/long_path.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"
#include "setup/engine/payload_manifest.h"

bool WriteUtf8TextFile(const std::wstring& path, const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return false;
  const int wideLength = static_cast<int>(text.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length < 1) return false;
  std::string bytes(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, bytes.data(), length, nullptr, nullptr) != length) {
    return false;
  }
  UniqueFile file(
      engineCalls.createFile(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (!engineCalls.writeFile(file.get(), bytes.data(), static_cast<DWORD>(length), &written, nullptr)) return false;
  return written == static_cast<DWORD>(length) && engineCalls.flushFile(file.get());
}

bool ReadInstalledRecord(const std::wstring& folder, std::wstring& text) {
  UniqueFile file(CreateFileW(LongPath(JoinPath(folder, kInstalledRecordName)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  if (size.QuadPart <= 0 || size.QuadPart > kMaxInstalledRecordBytes) return false;
  std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr) || read != bytes.size()) {
    return false;
  }
  file.reset();
  text = DecodeUtf8(bytes.data(), std::int32_t(bytes.size()));
  return !text.empty();
}

bool HoldsInstalledRecord(const std::wstring& folder) {
  const DWORD attributes = GetFileAttributesW(LongPath(JoinPath(folder, kInstalledRecordName)).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    return false;
  }
  std::wstring text;
  std::vector<PayloadEntry> entries;
  return ReadInstalledRecord(folder, text) && ParsePayloadManifest(text, entries);
}
