#include "setup/engine/payload_extract.h"

#include <windows.h>

#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/long_path.h"
#include "setup/core/resources.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"

namespace {

// Names the file and the reason in the log; always false.
template <typename... Reason>
bool LogFileFailure(const std::wstring& relative, const Reason&... reason) {
  LogEvent(L"packaged file \"", relative, L"\" failed: ", reason...);
  return false;
}

// Creates the file only if new and writes every byte in one call, flushed to disk.
bool WriteNewFile(const std::wstring& path, std::string_view bytes, const std::wstring& relative) {
  UniqueFile file(engineCalls.createFile(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file) return LogFileFailure(relative, L"could not be created, ", SystemError{GetLastError()});
  DWORD written = 0;
  if (!engineCalls.writeFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr)) {
    return LogFileFailure(relative, L"could not be written, ", SystemError{GetLastError()});
  }
  if (written != bytes.size()) return LogFileFailure(relative, L"written short: ", written, L" bytes");
  if (engineCalls.flushFile(file.get())) return true;
  return LogFileFailure(relative, L"could not be flushed, ", SystemError{GetLastError()});
}

bool LoadPayloadBytes(const PayloadEntry& entry, std::string_view& bytes) {
  const std::wstring& relative = entry.relativePath;
  bytes = LoadResourceBytes(entry.resourceId);
  if (bytes.data() == nullptr) return LogFileFailure(relative, L"resource ", entry.resourceId, L" missing");
  if (std::uint64_t(bytes.size()) == entry.size) return true;
  return LogFileFailure(relative, L"size ", bytes.size(), L" in the package, ", entry.size, L" in the manifest");
}

}  // namespace

bool StagePayloadFile(const PayloadEntry& entry, StagingTree& tree, std::wstring& target) {
  std::string_view bytes;
  if (!LoadPayloadBytes(entry, bytes)) return false;
  if (!PlaceInStaging(tree, entry.relativePath, target)) {
    return LogFileFailure(entry.relativePath, L"its folder could not be created, ", SystemError{GetLastError()});
  }
  return WriteNewFile(target, bytes, entry.relativePath);
}

bool MatchesManifest(Sha256Hasher& hasher, const std::wstring& path, const PayloadEntry& entry) {
  std::wstring digest;
  std::uint64_t length = 0;
  if (!HashFileSha256(hasher, path, digest, length)) {
    return LogFileFailure(entry.relativePath, L"could not be read back, ", SystemError{GetLastError()});
  }
  if (length != entry.size) {
    return LogFileFailure(entry.relativePath, L"size on disk ", length, L", in the manifest ", entry.size);
  }
  if (EqualsIgnoreAsciiCase(digest, entry.sha256)) return true;
  return LogFileFailure(entry.relativePath, L"SHA-256 on disk ", digest, L", in the manifest ", entry.sha256);
}
