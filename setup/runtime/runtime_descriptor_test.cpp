#include "setup/runtime/runtime_descriptor.h"

#include <gtest/gtest.h>

#include <string>

#include "setup/core/text.h"

namespace {

const std::wstring kUrl = L"https://downloads.example.test/windowsdesktop-runtime-8.0.11-win-x64.exe";
const std::wstring kLower = L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::wstring kMixed = L"0123456789ABCDEF0123456789abcdef0123456789ABCDEF0123456789AbCdEf";

std::wstring Line(const std::wstring& url, const std::wstring& size, const std::wstring& digest,
                  const std::wstring& ending = L"\r\n") {
  return url + L"\t" + size + L"\t" + digest + ending;
}

TEST(RuntimeDescriptorParser, AcceptsWellFormedLines) {
  const struct {
    const char* what;
    std::wstring text;
    std::uint64_t size;
    std::wstring digest;
  } cases[] = {
      {"CR LF ending removed from the digest", Line(kUrl, L"58000000", kLower), 58000000, kLower},
      {"no line ending", Line(kUrl, L"58000000", kLower, L""), 58000000, kLower},
      {"LF ending", Line(kUrl, L"58000000", kLower, L"\n"), 58000000, kLower},
      {"letter case kept", Line(kUrl, L"1", kMixed), 1, kMixed},
      {"largest size", Line(kUrl, L"536870912", kLower), 536870912, kLower},
      {"text after the size digits ignored", Line(kUrl, L"1048576 bytes", kLower), 1048576, kLower},
      {"white space and plus before the size", Line(kUrl, L" +42", kLower), 42, kLower},
      {"anything after the first line ignored", Line(kUrl, L"7", kLower) + L"garbage\tmore\n", 7, kLower},
  };
  for (const auto& c : cases) {
    RuntimeDescriptor descriptor;
    ASSERT_TRUE(ParseRuntimeDescriptor(c.text, descriptor)) << c.what;
    EXPECT_EQ(descriptor.url, kUrl) << c.what;
    EXPECT_EQ(descriptor.size, c.size) << c.what;
    EXPECT_EQ(descriptor.sha256, c.digest) << c.what;
  }
}

TEST(RuntimeDescriptorParser, RejectsEveryBrokenRule) {
  const struct {
    const char* what;
    std::wstring text;
  } cases[] = {
      {"empty text", L""},
      {"scheme in capitals", Line(L"HTTPS://example.test/r.exe", L"5", kLower)},
      {"space before the url", Line(L" " + kUrl, L"5", kLower)},
      {"url shorter than the scheme", Line(L"https:/", L"5", kLower)},
      {"empty url", Line(L"", L"5", kLower)},
      {"63 digits (the digest rule itself is the manifest table's)", Line(kUrl, L"5", kLower.substr(1))},
      {"space inside the digest", Line(kUrl, L"5", kLower.substr(0, 32) + L" " + kLower.substr(33))},
      {"two carriage returns", Line(kUrl, L"5", kLower, L"\r\r\n")},
      {"size 0", Line(kUrl, L"0", kLower)},
      {"size 536870913", Line(kUrl, L"536870913", kLower)},
      {"size without digits (the number rules are the manifest table's)", Line(kUrl, L"large", kLower)},
      {"negative size wraps beyond the limit", Line(kUrl, L"-5", kLower)},
      {"only two fields", kUrl + L"\t5\r\n"},
      {"only two fields, second tab at the end", kUrl + L"\t5\t"},
      {"only the url", kUrl},
      {"a fourth field", Line(kUrl, L"5", kLower + L"\textra")},
  };
  for (const auto& c : cases) {
    RuntimeDescriptor descriptor;
    EXPECT_FALSE(ParseRuntimeDescriptor(c.text, descriptor)) << c.what;
  }
}

}  // namespace
