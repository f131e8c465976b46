// Mutated manifests: the parser accepts exactly what an independent reading does.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "setup/engine/payload_manifest.h"
#include "testing/fuzz_mutator.h"
#include "testing/fuzz_oracles.h"

namespace {

std::wstring FoldAscii(std::wstring text) {
  for (wchar_t& c : text) c = (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c;
  return text;
}

std::vector<std::wstring> SplitAt(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts(1);
  for (wchar_t c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// One line read independently; false when it is invalid.
bool OracleLine(const std::wstring& line, PayloadEntry& entry, bool& unsure) {
  std::vector<std::wstring> fields = SplitAt(line, L'\t');
  if (fields.size() < 4 || !OracleValidRelativePath(fields[1]) || !IsOracleHexDigest(fields[3])) return false;
  std::uint64_t id = 0, size = 0;
  bool idNegative = false, sizeNegative = false;
  if (!OracleReadNumber(fields[0], id, idNegative, unsure) || !OracleReadNumber(fields[2], size, sizeNegative, unsure)) {
    return false;
  }
  if (idNegative || id > 65535u || id < 1001) return false;
  // A minus before the size negates it modulo 2^64; too odd to pin down here.
  if (sizeNegative && size != 0) unsure = true;
  if (sizeNegative || size == 0) return false;
  entry = PayloadEntry{std::int32_t(id), fields[1], size, fields[3]};
  return true;
}

bool OracleManifest(const std::wstring& text, std::vector<PayloadEntry>& entries, bool& unsure) {
  std::set<std::int32_t> ids;
  std::set<std::wstring> paths;
  std::vector<std::wstring> lines = SplitAt(text, L'\n');
  if (lines.back().empty()) lines.pop_back();  // a final line feed ends the last line
  for (std::wstring line : lines) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.empty()) return false;
    PayloadEntry entry;
    if (!OracleLine(line, entry, unsure)) return false;
    if (!ids.insert(entry.resourceId).second || !paths.insert(FoldAscii(entry.relativePath)).second) return false;
    entries.push_back(entry);
  }
  return !entries.empty();
}

bool SameEntries(const std::vector<PayloadEntry>& a, const std::vector<PayloadEntry>& b) {
  auto fields = [](const PayloadEntry& e) { return std::tie(e.resourceId, e.relativePath, e.size, e.sha256); };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](const PayloadEntry& x, const PayloadEntry& y) { return fields(x) == fields(y); });
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
    std::vector<PayloadEntry> entries, expected;
    const bool accepted = ParsePayloadManifest(text, entries);
    bool unsure = false;
    const bool oracle = OracleManifest(text, expected, unsure);
    if (!unsure) {
      EXPECT_EQ(accepted, oracle) << "input " << i;
      if (accepted && oracle) {
        EXPECT_TRUE(SameEntries(entries, expected)) << "input " << i;
      }
    }
    for (const PayloadEntry& entry : accepted ? entries : std::vector<PayloadEntry>{}) {
      EXPECT_TRUE(entry.resourceId >= 1001 && entry.size != 0 && OracleValidRelativePath(entry.relativePath))
          << "input " << i;
    }
    return accepted;
  });
}

}  // namespace
