#include "setup/core/sha256.h"
#include "setup/engine/payload_extract.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "testing/engine_test_support.h"

using namespace engine_test;

TEST(ComputeFileSha256, MatchesSha256sumAndLeavesTheOutputOnFailure) {
  ScratchFolder scratch;
  // Bytes (i * 31 + 7) mod 251 for 3 MiB + 17 bytes: several read blocks and a short one.
  std::string blocks(3 * 1048576 + 17, '\0');
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = char((i * 31 + 7) % 251);
  ASSERT_TRUE(WriteBytes(scratch / L"empty", "") && WriteBytes(scratch / L"blocks.bin", blocks));
  const std::pair<std::wstring, std::wstring> cases[] = {  // path, digest afterwards ("unchanged": fails)
      {scratch / L"empty", L"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
      {scratch / L"blocks.bin", L"E7BFF00C7B67234117B8C364725CF2B41FC31F7F46674B1A4A6B3C5516B3A6ED"},
      {scratch / L"absent", L"unchanged"},
  };
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(WideToUtf8(path));
    std::wstring digest = L"unchanged";
    EXPECT_EQ(ComputeFileSha256(path, digest), expected != L"unchanged");
    EXPECT_EQ(digest, expected);
  }
}

TEST(ExtractPayloadFile, WritesOnlyWhatMatchesItsEntryAndNeverReplacesAnything) {
  const struct {
    const char* name;
    std::uint64_t size;
    const wchar_t* target;
    const wchar_t* existing;  // a file "kept" made first
    bool ok;
    const wchar_t* check;
    const char* content;  // of check afterwards; nullptr: absent
  } cases[] = {
      {"a folder missing on the way", 21, L"a\\b\\Velmora.exe", nullptr, true, L"a\\b\\Velmora.exe", kPayload},
      {"one byte short", 20, L"new\\Velmora.exe", nullptr, false, L"new", nullptr},
      {"4 GiB more", 21 + (1ull << 32), L"new\\Velmora.exe", nullptr, false, L"new", nullptr},
      {"existing target", 21, L"Velmora.exe", L"Velmora.exe", false, L"Velmora.exe", "kept"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    ASSERT_TRUE(!c.existing || WriteBytes(scratch / c.existing, "kept"));
    const PayloadEntry entry{1001, L"Velmora.exe", c.size, kPayloadDigest};
    EXPECT_EQ(ExtractPayloadFile(entry, scratch / c.target), c.ok);
    EXPECT_EQ(PathExists(scratch / c.check), c.content != nullptr);
    EXPECT_EQ(ReadBytes(scratch / c.check), c.content ? c.content : "");
  }
}
