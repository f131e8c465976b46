#include "setup/engine/payload_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

const std::wstring kLower = L"e798dd26964403ce27304d239928e5b45dc415e26bdbb0f98ef2adae17559fe8";
const std::wstring kMixed = L"E798DD26964403CE27304D239928E5B4" + kLower.substr(32);

std::wstring Line(const std::wstring& id, const std::wstring& path, const std::wstring& size,
                  const std::wstring& digest = kLower) {
  return id + L"\t" + path + L"\t" + size + L"\t" + digest;
}

std::wstring Good(const std::wstring& path = L"Velmora.exe") { return Line(L"1001", path, L"42"); }

using Entry = std::tuple<std::int32_t, std::wstring, std::uint64_t, std::wstring>;

// An accepted row lists its entries; a row without any must be refused. The rows hold
// what PayloadManifestFuzz does not reach.
struct ManifestCase {
  const char* name;
  std::wstring text;
  std::vector<Entry> entries = {};
};

TEST(PayloadManifest, AcceptsEachWellFormedVariantAndRejectsEveryBadLine) {
  const std::vector<ManifestCase> cases = {
      {"numbers read like C's", Line(L"   +1234abc", L"a.dll", L"  42 bytes"), {{1234, L"a.dll", 42, kLower}}},
      {"largest numbers, mixed-case digest as written, more text after it",
       Line(L"65535", L"a", L"18446744073709551615", kMixed) + L"\tcomment\there",
       {{65535, L"a", 18446744073709551615ull, kMixed}}},
      {"digest followed by a lone tab", Good() + L"\t", {{1001, L"Velmora.exe", 42, kLower}}},
      // É and é differ outside A-Z, so they are two files; the two separator forms of one
      // path are left for file creation to catch.
      {"line order kept, only ASCII letters folded",
       Line(L"1003", L"É.txt", L"3") + L"\n" + Line(L"1001", L"é.txt", L"1") + L"\n" +
           Line(L"1002", L"a\\b", L"2") + L"\n" + Line(L"1004", L"a/b", L"4"),
       {{1003, L"É.txt", 3, kLower}, {1001, L"é.txt", 1, kLower}, {1002, L"a\\b", 2, kLower},
        {1004, L"a/b", 4, kLower}}},
      {"identifier 1000", Line(L"1000", L"a", L"1")},
      {"negative identifier", Line(L"-1001", L"a", L"1")},
      {"size 0", Line(L"1001", L"a", L"0")},
      {"digest with a trailing space", Line(L"1001", L"a", L"1", kLower + L" ")},
      {"digest with a leading space", Line(L"1001", L"a", L"1", L" " + kLower)},
      {"two carriage returns at the end", Good() + L"\r\r\n"},
      {"path ending with a space (fields are not trimmed)", Line(L"1001", L"Velmora.exe ", L"1")},
      {"same identifier written differently", Good(L"a") + L"\n" + Line(L"+01001", L"b", L"1")},
      {"empty text", L""},
      {"a byte-order mark before the first line", L"\xFEFF" + Good()},
  };
  for (const ManifestCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PayloadEntry> parsed;
    EXPECT_EQ(ParsePayloadManifest(c.text, parsed), !c.entries.empty());
    std::vector<Entry> found;
    for (const PayloadEntry& e : parsed) found.emplace_back(e.resourceId, e.relativePath, e.size, e.sha256);
    EXPECT_EQ(c.entries.empty() ? std::vector<Entry>{} : found, c.entries);
  }
}

TEST(DecodeUtf8, DecodesStrictlyAndKeepsEveryCharacter) {
  const struct {
    std::string bytes;
    std::wstring expected;
    std::int32_t length = -2;  // -2: all of bytes
  } cases[] = {
      {"\xE5\xB2\xAB\xE6\xBE\x9C", L"岫澜"},
      {"\xEF\xBB\xBF" "A", L"\xFEFF" L"A"},  // a byte-order mark stays
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
      {"\xC3\x28", L""},  // not UTF-8; which bytes are is the system decoder's rule
      {"abc", L"", -1},
      {"abcdef", L"ab", 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeUtf8(c.bytes.data(), c.length == -2 ? std::int32_t(c.bytes.size()) : c.length), c.expected)
        << "row " << &c - cases;
  }
}

}  // namespace
