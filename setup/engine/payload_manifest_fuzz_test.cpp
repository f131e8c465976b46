// Mutated manifests: the parser accepts exactly what an independent reading does.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "setup/engine/payload_manifest.h"
#include "testing/fuzz_mutator.h"
#include "testing/fuzz_oracles.h"

namespace {

std::vector<std::wstring> SplitAt(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  for (size_t start = 0, end = 0; end != std::wstring::npos; start = end + 1) {
    end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

using Entry = std::tuple<std::uint64_t, std::wstring, std::uint64_t, std::wstring>;

// The entries an independent reading finds; none when the text is invalid.
std::vector<Entry> OracleManifest(const std::wstring& text, bool& unsure) {
  std::set<std::uint64_t> ids;
  std::set<std::wstring> paths;
  std::vector<Entry> entries;
  std::vector<std::wstring> lines = SplitAt(text, L'\n');
  if (lines.back().empty()) lines.pop_back();  // a final line feed ends the last line
  for (std::wstring line : lines) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const std::vector<std::wstring> fields = SplitAt(line, L'\t');
    std::uint64_t id = 0, size = 0;
    bool idNegative = false, sizeNegative = false;
    if (fields.size() < 4 || !OracleValidRelativePath(fields[1]) || !IsOracleHexDigest(fields[3]) ||
        !OracleReadNumber(fields[0], id, idNegative, unsure) ||
        !OracleReadNumber(fields[2], size, sizeNegative, unsure)) {
      return {};
    }
    // A minus before the size negates it modulo 2^64; too odd to pin down here.
    if (sizeNegative && size != 0) unsure = true;
    std::wstring folded = fields[1];
    for (wchar_t& c : folded) c = (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c;
    if (idNegative || id > 65535u || id < 1001 || sizeNegative || size == 0 || !ids.insert(id).second ||
        !paths.insert(folded).second) {
      return {};
    }
    entries.emplace_back(id, fields[1], size, fields[3]);
  }
  return entries;
}

const std::vector<std::wstring> kSeeds = {
    L"1001\tVelmora.exe\t12\t0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\r\n"
    L"1002\tbin\\a.dll\t7\t0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF\n",
    L"\n\n 1003\tdata/sub/x.bin\t+18446744073709551615\tFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\textra\n",
    L"2147483647\t岫澜\\说明.txt\t1 bytes\taaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
    L"1001\ta\t1\t" + std::wstring(64, L'0') + L"\n1002\tA\t1\t" + std::wstring(64, L'1') + L"\n",
};

TEST(PayloadManifestFuzz, AcceptsExactlyWhatAnIndependentReadingAccepts) {
  RunFuzz("payload-manifest", kSeeds, 0xA11CE5EED42ULL, 20000, [](const std::wstring& text, std::uint64_t i) {
    std::vector<PayloadEntry> entries;
    const bool accepted = ParsePayloadManifest(text, entries);
    std::vector<Entry> found;
    for (const PayloadEntry& e : accepted ? entries : std::vector<PayloadEntry>{}) {
      EXPECT_TRUE(e.resourceId >= 1001 && e.size != 0 && OracleValidRelativePath(e.relativePath)) << "input " << i;
      found.emplace_back(e.resourceId, e.relativePath, e.size, e.sha256);
    }
    bool unsure = false;
    const std::vector<Entry> expected = OracleManifest(text, unsure);
    if (!unsure) {
      EXPECT_EQ(found, expected) << "input " << i;
    }
    return accepted;
  });
}

}  // namespace
