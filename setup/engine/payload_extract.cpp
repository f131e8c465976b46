#include "setup/engine/payload_extract.h"

#include <windows.h>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/resources.h"
#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"

namespace {

// Creates the file only if new and writes every byte in one call, flushed to disk.
bool WriteNewFile(const std::wstring& path, std::string_view bytes) {
  UniqueFile file(engineCalls.createFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (!engineCalls.writeFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr)) return false;
  if (written != bytes.size()) return false;
  return engineCalls.flushFile(file.get()) != 0;
}

bool LoadPayloadBytes(const PayloadEntry& entry, std::string_view& bytes) {
  bytes = LoadResourceBytes(entry.resourceId);
  return bytes.data() != nullptr && std::uint64_t(bytes.size()) == entry.size;
}

}  // namespace

bool ExtractPayloadFile(const PayloadEntry& entry, const std::wstring& targetPath) {
  std::string_view bytes;
  if (!LoadPayloadBytes(entry, bytes)) return false;
  if (!EnsureDirectory(ParentPath(targetPath))) return false;
  if (!WriteNewFile(targetPath, bytes)) return false;
  Sha256Hasher hasher;
  return OpenSha256Hasher(hasher) && MatchesManifest(hasher, targetPath, entry.size, entry.sha256);
}

bool StagePayloadFile(const PayloadEntry& entry, StagingTree& tree, std::wstring& target) {
  std::string_view bytes;
  return LoadPayloadBytes(entry, bytes) && PlaceInStaging(tree, entry.relativePath, target) &&
         WriteNewFile(target, bytes);
}

bool MatchesManifest(Sha256Hasher& hasher, const std::wstring& path, std::uint64_t size, const std::wstring& sha256) {
  std::wstring digest;
  std::uint64_t length = 0;
  return HashFileSha256(hasher, path, digest, length) && length == size && EqualsIgnoreAsciiCase(digest, sha256);
}
