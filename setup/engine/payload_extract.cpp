#include "setup/engine/payload_extract.h"

#include <windows.h>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/resources.h"
#include "setup/core/sha256.h"
#include "setup/core/text.h"
#include "setup/core/long_path.h"
#include "setup/engine/fault_injection.h"

namespace {

// Creates the file only if new and writes every byte in one call, flushed to disk.
bool WriteNewFile(const std::wstring& path, std::string_view bytes) {
  UniqueFile file(engineCalls.createFile(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (!engineCalls.writeFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr)) return false;
  if (written != bytes.size()) return false;
  return engineCalls.flushFile(file.get()) != 0;
}

}  // namespace

bool ExtractPayloadFile(const PayloadEntry& entry, const std::wstring& targetPath) {
  std::string_view bytes = LoadResourceBytes(entry.resourceId);
  if (bytes.data() == nullptr || std::uint64_t(bytes.size()) != entry.size) return false;
  if (!EnsureDirectory(ParentPath(targetPath))) return false;
  if (!WriteNewFile(targetPath, bytes)) return false;
  std::wstring digest;
  if (!ComputeFileSha256(targetPath, digest)) return false;
  return EqualsIgnoreAsciiCase(digest, entry.sha256);
}
