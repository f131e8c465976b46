#include "setup/engine/payload_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::wstring kLower = L"e798dd26964403ce27304d239928e5b45dc415e26bdbb0f98ef2adae17559fe8";
const std::wstring kUpper = L"E798DD26964403CE27304D239928E5B45DC415E26BDBB0F98EF2ADAE17559FE8";

std::wstring Line(const std::wstring& id, const std::wstring& path, const std::wstring& size,
                  const std::wstring& digest = kLower) {
  return id + L"\t" + path + L"\t" + size + L"\t" + digest;
}

std::wstring Good(const std::wstring& path = L"Velmora.exe") { return Line(L"1001", path, L"42"); }

struct AcceptedCase {
  const char* name;
  std::wstring text;
  std::int32_t id;
  std::wstring path;
  std::uint64_t size;
  std::wstring digest;
};

TEST(PayloadManifest, AcceptsEachWellFormedVariant) {
  const std::vector<AcceptedCase> cases = {
      {"one line ended by CR LF keeps a lower-case digest", Good() + L"\r\n", 1001, L"Velmora.exe", 42, kLower},
      {"no final line feed", Good(), 1001, L"Velmora.exe", 42, kLower},
      {"identifier with leading spaces", Line(L"   1001", L"a.dll", L"7"), 1001, L"a.dll", 7, kLower},
      {"identifier with a plus sign", Line(L"+1001", L"a.dll", L"7"), 1001, L"a.dll", 7, kLower},
      {"identifier followed by letters", Line(L"1234abc", L"a.dll", L"7"), 1234, L"a.dll", 7, kLower},
      {"largest 16-bit identifier", Line(L"65535", L"a.dll", L"7"), 65535, L"a.dll", 7, kLower},
      {"size with leading spaces", Line(L"1001", L"a.dll", L"  42"), 1001, L"a.dll", 42, kLower},
      {"size followed by a word", Line(L"1001", L"a.dll", L"42 bytes"), 1001, L"a.dll", 42, kLower},
      {"largest 64-bit size", Line(L"1001", L"a.dll", L"18446744073709551615"), 1001, L"a.dll",
       18446744073709551615ull, kLower},
      {"mixed-case digest kept as written", Line(L"1001", L"a", L"1", kUpper.substr(0, 32) + kLower.substr(32)),
       1001, L"a", 1, kUpper.substr(0, 32) + kLower.substr(32)},
      {"digest followed by a tab and more text", Good() + L"\tcomment\there", 1001, L"Velmora.exe", 42, kLower},
      {"digest followed by a lone tab", Good() + L"\t", 1001, L"Velmora.exe", 42, kLower},
      {"forward slashes stored as written", Line(L"1001", L"a/b/c.dll", L"3"), 1001, L"a/b/c.dll", 3, kLower},
      {"Chinese path", Line(L"1001", L"资源\\说明.txt", L"3"), 1001, L"资源\\说明.txt", 3, kLower},
      {"path of 240 characters", Line(L"1001", std::wstring(240, L'x'), L"3"), 1001, std::wstring(240, L'x'), 3,
       kLower},
  };
  for (const AcceptedCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PayloadEntry> entries;
    ASSERT_TRUE(ParsePayloadManifest(c.text, entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].resourceId, c.id);
    EXPECT_EQ(entries[0].relativePath, c.path);
    EXPECT_EQ(entries[0].size, c.size);
    EXPECT_EQ(entries[0].sha256, c.digest);
  }
}

struct RejectedCase {
  const char* name;
  std::wstring text;
};

TEST(PayloadManifest, RejectsEveryBadLine) {
  const std::vector<RejectedCase> cases = {
      {"identifier 1000", Line(L"1000", L"a", L"1")},
      {"identifier 999", Line(L"999", L"a", L"1")},
      {"negative identifier", Line(L"-1001", L"a", L"1")},
      {"identifier beginning with a letter", Line(L"a1001", L"a", L"1")},
      {"identifier beyond 32 bits", Line(L"2147483648", L"a", L"1")},
      {"identifier far beyond 32 bits", Line(L"99999999999", L"a", L"1")},
      {"identifier beyond 16 bits, naming resource 1000", Line(L"66536", L"a", L"1")},
      {"empty identifier", Line(L"", L"a", L"1")},
      {"size 0", Line(L"1001", L"a", L"0")},
      {"size beyond 64 bits", Line(L"1001", L"a", L"18446744073709551616")},
      {"size without digits", Line(L"1001", L"a", L"big")},
      {"empty size", Line(L"1001", L"a", L"")},
      {"digest of 63 characters", Line(L"1001", L"a", L"1", kLower.substr(1))},
      {"digest of 65 characters", Line(L"1001", L"a", L"1", kLower + L"0")},
      {"digest with a letter beyond F", Line(L"1001", L"a", L"1", L"g" + kLower.substr(1))},
      {"digest with a trailing space", Line(L"1001", L"a", L"1", kLower + L" ")},
      {"digest with a leading space", Line(L"1001", L"a", L"1", L" " + kLower)},
      {"two carriage returns at the end", Good() + L"\r\r\n"},
      {"three fields", L"1001\tVelmora.exe\t42"},
      {"nothing after the third tab", L"1001\tVelmora.exe\t42\t"},
      {"a line of spaces", L"   "},
      {"a line of spaces after a good line", Good() + L"\n  \t \n"},
      {"a line of tabs", L"\t\t\t"},
      // The packaged-path rules themselves are IsValidRelativePath's table (paths_test).
      {"a path the packaged-path rules refuse", Line(L"1001", L"a/../b", L"1")},
      {"path ending with a space (fields are not trimmed)", Line(L"1001", L"Velmora.exe ", L"1")},
      {"empty path", Line(L"1001", L"", L"1")},
      {"path of 241 characters", Line(L"1001", std::wstring(241, L'x'), L"1")},
      {"same identifier twice", Good(L"a") + L"\n" + Good(L"b")},
      {"same identifier written differently", Good(L"a") + L"\n" + Line(L"+01001", L"b", L"1")},
      {"paths differing in ASCII case", Line(L"1001", L"Dir\\Velmora.exe", L"1") + L"\r\n" +
                                           Line(L"1002", L"dIR\\VELMORA.EXE", L"1")},
      {"a bad line after good ones", Good() + L"\n" + Line(L"1002", L"b", L"0")},
      {"empty text", L""},
      {"only empty lines", L"\n\r\n\n\r"},
      {"an empty line before a good line", L"\n" + Good()},
      {"an empty line between good lines", Good(L"a") + L"\n\n" + Line(L"1002", L"b", L"1")},
      {"a lone-CR line after a good line", Good() + L"\r\n\r\n"},
      {"a byte-order mark before the first line", L"\xFEFF" + Good()},
  };
  for (const RejectedCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PayloadEntry> entries;
    EXPECT_FALSE(ParsePayloadManifest(c.text, entries));
  }
}

TEST(PayloadManifest, KeepsLineOrderAndFoldsOnlyAsciiLetters) {
  // É and é differ outside A-Z, so they are two files; the two separator forms of one
  // path are left for file creation to catch.
  std::wstring text = Line(L"1003", L"É.txt", L"3") + L"\n" + Line(L"1001", L"é.txt", L"1") + L"\n" +
                      Line(L"1002", L"a\\b", L"2") + L"\n" + Line(L"1004", L"a/b", L"4");
  std::vector<PayloadEntry> entries;
  ASSERT_TRUE(ParsePayloadManifest(text, entries));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].resourceId, 1003);
  EXPECT_EQ(entries[1].resourceId, 1001);
  EXPECT_EQ(entries[2].relativePath, L"a\\b");
  EXPECT_EQ(entries[3].relativePath, L"a/b");
}

TEST(PayloadManifest, ReadsTheProgramsOwnResourceAndKeepsItsText) {
  std::vector<PayloadEntry> entries;
  std::wstring text;
  ASSERT_TRUE(ReadPayloadManifest(entries, text));
  EXPECT_EQ(text, L"1001\tVelmora.exe\t21\t" + kLower + L"\r\n1002\tresources/说明.txt\t21\t" + kUpper +
                      L"\r\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].resourceId, 1002);
  EXPECT_EQ(entries[1].relativePath, L"resources/说明.txt");
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::wstring expected;
  std::int32_t length = -2;  // -2: all of bytes
};

TEST(DecodeUtf8, DecodesStrictlyAndKeepsEveryCharacter) {
  const std::vector<DecodeCase> cases = {
      {"ASCII", "abc", L"abc"},
      {"Chinese", "\xE5\xB2\xAB\xE6\xBE\x9C", L"岫澜"},
      {"byte-order mark stays", "\xEF\xBB\xBF" "A", L"\xFEFF" L"A"},
      {"NUL stays", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
      {"four-byte character", "\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
      {"invalid second byte", "\xC3\x28", L""},
      {"lone continuation byte", "a\x80", L""},
      {"truncated sequence", "\xE6\xBE", L""},
      {"byte FF", "\xFF", L""},
      {"overlong encoding", "\xC0\xAF", L""},
      {"encoded surrogate", "\xED\xA0\x80", L""},
      {"no bytes", "abc", L"", 0},
      {"a negative length", "abc", L"", -1},
      {"a length short of the bytes", "abcdef", L"ab", 2},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeUtf8(c.bytes.data(), c.length == -2 ? std::int32_t(c.bytes.size()) : c.length), c.expected);
  }
  EXPECT_EQ(DecodeUtf8(nullptr, 5), L"");
}

}  // namespace
