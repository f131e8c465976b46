// Mutated manifests: no crash, and every accepted manifest passes an independent check.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "setup/core/paths.h"
#include "setup/engine/payload_manifest.h"
#include "testing/fuzz_mutator.h"

namespace {

bool IsHexDigest(const std::wstring& digest) {
  if (digest.size() != 64) return false;
  for (wchar_t c : digest) {
    bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!hex) return false;
  }
  return true;
}

std::wstring FoldAscii(std::wstring text) {
  for (wchar_t& c : text) c = (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c;
  return text;
}

// What any accepted manifest must satisfy, entry by entry and as a whole.
bool IsSoundManifest(const std::wstring& text, const std::vector<PayloadEntry>& entries) {
  if (entries.empty()) return false;
  std::set<std::int32_t> ids;
  std::set<std::wstring> paths;
  for (const PayloadEntry& entry : entries) {
    if (entry.resourceId < 1001 || entry.size == 0 || !IsHexDigest(entry.sha256)) return false;
    if (!IsValidRelativePath(entry.relativePath)) return false;
    if (!ids.insert(entry.resourceId).second || !paths.insert(FoldAscii(entry.relativePath)).second) return false;
    // Each field comes from the text as written.
    if (text.find(L"\t" + entry.relativePath + L"\t") == std::wstring::npos) return false;
    if (text.find(L"\t" + entry.sha256) == std::wstring::npos) return false;
  }
  return true;
}

const std::vector<std::wstring> kSeeds = {
    L"1001\tVelmora.exe\t12\t0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\r\n"
    L"1002\tbin\\a.dll\t7\t0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF\n",
    L"\n\n 1003\tdata/sub/x.bin\t+18446744073709551615\tFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\textra\n",
    L"2147483647\t岫澜\\说明.txt\t1 bytes\taaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
    L"1001\ta\t1\t" + std::wstring(64, L'0') + L"\n1002\tA\t1\t" + std::wstring(64, L'1') + L"\n",
};

TEST(PayloadManifestFuzz, AcceptedManifestsAreSound) {
  const std::uint64_t count = FuzzInputCount(20000);
  FuzzRandom random{0xA11CE5EED42ULL};
  FuzzCounts counts;
  ULONGLONG start = GetTickCount64();
  for (std::uint64_t i = 0; i < count; ++i) {
    std::wstring text = Mutate(kSeeds, random);
    std::vector<PayloadEntry> entries;
    ++counts.inputs;
    if (ParsePayloadManifest(text, entries)) {
      ++counts.accepted;
      ASSERT_TRUE(IsSoundManifest(text, entries)) << "input " << i;
    } else {
      ++counts.rejected;
    }
  }
  PrintFuzzCounts("payload-manifest", counts, FuzzSecondsSince(start));
}

}  // namespace
