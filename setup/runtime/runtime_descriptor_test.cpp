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

const std::wstring kUrl = L"https://downloads.example.test/windowsdesktop-runtime-8.0.11-win-x64.exe";
const std::wstring kLower = L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::wstring kMixed = L"0123456789ABCDEF0123456789abcdef0123456789ABCDEF0123456789AbCdEf";

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

std::wstring Line(const std::wstring& url, const std::wstring& size, const std::wstring& digest,
                  const std::wstring& ending = L"\r\n") {
  return url + L"\t" + size + L"\t" + digest + ending;
}

TEST(RuntimeDescriptorParser, FollowsEveryRule) {
  const struct { const char* what; std::wstring text; bool accepted; } cases[] = {
      {"CR LF ending removed from the digest", Line(kUrl, L"58000000", kLower), true},
      {"no line ending", Line(kUrl, L"58000000", kLower, L""), true},
      {"LF ending", Line(kUrl, L"58000000", kLower, L"\n"), true},
      {"letter case kept", Line(kUrl, L"1", kMixed), true},
      {"largest size", Line(kUrl, L"536870912", kLower), true},
      {"text after the size digits ignored", Line(kUrl, L"1048576 bytes", kLower), true},
      {"anything after the first line ignored", Line(kUrl, L"7", kLower) + L"garbage\tmore\n", true},
      {"empty text", L"", false},
      {"scheme in capitals", Line(L"HTTPS://example.test/r.exe", L"5", kLower), false},
      {"space before the url", Line(L" " + kUrl, L"5", kLower), false},
      {"url shorter than the scheme", Line(L"https:/", L"5", kLower), false},
      {"63 digits (the digest rules are the manifest table's)", Line(kUrl, L"5", kLower.substr(1)), false},
      {"two carriage returns", Line(kUrl, L"5", kLower, L"\r\r\n"), false},
      {"size 0", Line(kUrl, L"0", kLower), false},
      {"size 536870913", Line(kUrl, L"536870913", kLower), false},
      {"size without digits (number rules: the manifest's)", Line(kUrl, L"large", kLower), false},
      {"negative size wraps beyond the limit", Line(kUrl, L"-5", kLower), false},
      {"only two fields", kUrl + L"\t5\r\n", false},
      {"only two fields, second tab at the end", kUrl + L"\t5\t", false},
      {"only the url", kUrl, false},
      {"a fourth field", Line(kUrl, L"5", kLower + L"\textra"), false},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadsAsTheIndependentReading(c.text), c.accepted) << c.what;
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
