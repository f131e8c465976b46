// The descriptor parser against an independent reading of the rules: named cases, then
// mutated ones.
#include "setup/runtime/runtime_descriptor.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "testing/fuzz_mutator.h"
#include "testing/fuzz_oracles.h"

namespace {

const std::wstring kLower = L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::optional<RuntimeDescriptor> IndependentReading(const std::wstring& text, bool& unsure) {
  std::size_t firstTab = text.find(L'\t');
  std::size_t secondTab = firstTab == std::wstring::npos ? firstTab : text.find(L'\t', firstTab + 1);
  if (secondTab == std::wstring::npos || secondTab + 1 >= text.size()) return std::nullopt;
  RuntimeDescriptor expected{text.substr(0, firstTab), 0, text.substr(secondTab + 1)};
  expected.sha256 = expected.sha256.substr(0, expected.sha256.find(L'\n'));
  if (!expected.sha256.empty() && expected.sha256.back() == L'\r') expected.sha256.pop_back();
  const std::wstring sizeText = text.substr(firstTab + 1, secondTab - firstTab - 1);
  bool negative = false;
  if (expected.url.compare(0, 8, L"https://") != 0 || !IsOracleHexDigest(expected.sha256) ||
      !OracleReadNumber(sizeText, expected.size, negative, unsure)) {
    return std::nullopt;
  }
  if (negative) expected.size = 0 - expected.size;
  if (expected.size < 1 || expected.size > 536870912) return std::nullopt;
  return expected;
}

// Whether the parser accepted text; fails the test where it read it otherwise.
bool ReadsAsTheIndependentReading(const std::wstring& text) {
  RuntimeDescriptor descriptor;
  const bool accepted = ParseRuntimeDescriptor(text, descriptor);
  bool unsure = false;
  const auto expected = IndependentReading(text, unsure);
  EXPECT_TRUE(unsure || accepted == expected.has_value()) << "accepted: " << accepted;
  if (accepted && expected) {
    EXPECT_EQ(std::tie(descriptor.url, descriptor.size, descriptor.sha256),
              std::tie(expected->url, expected->size, expected->sha256));
  }
  return accepted;
}

std::wstring Line(const std::wstring& url, const std::wstring& size, const std::wstring& digest) {
  return url + L"\t" + size + L"\t" + digest + L"\r\n";
}

// Mutations never put the scheme in capitals or a space before it; the fuzzer holds the rest.
TEST(RuntimeDescriptorParser, RefusesAUrlThatDoesNotStartWithTheScheme) {
  for (const wchar_t* url : {L"HTTPS://example.test/r.exe", L" https://example.test/r.exe"}) {
    EXPECT_FALSE(ReadsAsTheIndependentReading(Line(url, L"5", kLower))) << url;
  }
}

TEST(RuntimeDescriptorFuzz, AcceptsExactlyWhatAnIndependentReadingAccepts) {
  const std::vector<std::wstring> seeds = {
      Line(L"https://localhost:47443/windowsdesktop-runtime-8.0.11-win-x64.exe", L"58000000", kLower),
      L"https://x\t +536870912 bytes\tABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCD",
      L"https://a/b\t-18446744073709551615\t" + std::wstring(64, L'f') + L"\nsecond\tline\n",
      L"\xfeffhttps://bom\t1\t" + std::wstring(64, L'0'),
  };
  RunFuzz("runtime-descriptor", seeds, 0xDE5C819708ULL, 20000, [](const std::wstring& text, std::uint64_t i) {
    SCOPED_TRACE(i);
    return ReadsAsTheIndependentReading(text);
  });
}

}  // namespace
