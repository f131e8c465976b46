// Mutated runtime descriptors: the parser accepts exactly what an independent reading does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/runtime/runtime_descriptor.h"
#include "testing/fuzz_mutator.h"
#include "testing/fuzz_oracles.h"

namespace {

bool IndependentAccepts(const std::wstring& text, bool& unsure) {
  std::size_t firstTab = text.find(L'\t');
  if (firstTab == std::wstring::npos) return false;
  std::size_t secondTab = text.find(L'\t', firstTab + 1);
  if (secondTab == std::wstring::npos || secondTab + 1 >= text.size()) return false;
  std::wstring url = text.substr(0, firstTab);
  std::wstring sizeText = text.substr(firstTab + 1, secondTab - firstTab - 1);
  std::wstring digest = text.substr(secondTab + 1);
  digest = digest.substr(0, digest.find(L'\n'));
  if (!digest.empty() && digest.back() == L'\r') digest.pop_back();
  if (url.compare(0, 8, L"https://") != 0 || !IsOracleHexDigest(digest)) return false;
  std::uint64_t size = 0;
  bool negative = false;
  if (!OracleReadNumber(sizeText, size, negative, unsure)) return false;
  if (negative) size = 0 - size;
  return size >= 1 && size <= 536870912;
}

const std::vector<std::wstring> kSeeds = {
    L"https://localhost:47443/windowsdesktop-runtime-8.0.11-win-x64.exe\t58000000\t"
    L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\r\n",
    L"https://x\t +536870912 bytes\tABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCDEFABCD",
    L"https://a/b\t-18446744073709551615\t" + std::wstring(64, L'f') + L"\nsecond\tline\n",
    L"\xfeffhttps://bom\t1\t" + std::wstring(64, L'0'),
};

TEST(RuntimeDescriptorFuzz, AcceptsExactlyWhatAnIndependentReadingAccepts) {
  RunFuzz("runtime-descriptor", kSeeds, 0xDE5C819708ULL, 20000, [](const std::wstring& text, std::uint64_t i) {
    RuntimeDescriptor descriptor;
    const bool accepted = ParseRuntimeDescriptor(text, descriptor);
    bool unsure = false;
    const bool expected = IndependentAccepts(text, unsure);
    if (!unsure) {
      EXPECT_EQ(accepted, expected) << "input " << i;
    }
    if (accepted) {
      EXPECT_TRUE(descriptor.size >= 1 && descriptor.size <= 536870912 && descriptor.sha256.size() == 64 &&
                  descriptor.url.compare(0, 8, L"https://") == 0)
          << "input " << i;
    }
    return accepted;
  });
}

}  // namespace
