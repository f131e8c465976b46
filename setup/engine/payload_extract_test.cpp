#include "setup/core/sha256.h"
#include "setup/engine/payload_extract.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "testing/engine_test_support.h"

using namespace engine_test;

// One hasher for file after file, as the engine uses it: every digest matches sha256sum,
// also after a failure, which leaves the outputs as they were.
TEST(HashFileSha256, OneHasherMatchesSha256sumForEachFileInTurn) {
  ScratchFolder scratch;
  // Bytes (i * 31 + 7) mod 251 for 3 MiB + 17 bytes: several read blocks and a short one.
  std::string blocks(3 * 1048576 + 17, '\0');
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = char((i * 31 + 7) % 251);
  ASSERT_TRUE(WriteBytes(scratch / L"empty", "") && WriteBytes(scratch / L"blocks.bin", blocks));
  const std::wstring kBlocks = L"E7BFF00C7B67234117B8C364725CF2B41FC31F7F46674B1A4A6B3C5516B3A6ED";
  const struct {
    std::wstring path, digest;  // "unchanged": fails
    std::uint64_t length;
  } cases[] = {
      {scratch / L"blocks.bin", kBlocks, blocks.size()}, {scratch / L"absent", L"unchanged", 1},
      {scratch / L"empty", L"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855", 0},
      {scratch / L"blocks.bin", kBlocks, blocks.size()},
  };
  Sha256Hasher hasher;
  ASSERT_TRUE(OpenSha256Hasher(hasher));
  EXPECT_TRUE(hasher.reusable) << "Windows 10 takes the reusable flag: one hash serves every file";
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.path));
    std::wstring digest = L"unchanged";
    std::uint64_t length = 1;
    EXPECT_EQ(HashFileSha256(hasher, c.path, digest, length), c.digest != L"unchanged");
    EXPECT_EQ(std::tie(digest, length), std::tie(c.digest, c.length));
  }
}

// The install's two steps per file: staged from its resource, never over an existing file,
// then read back against its entry.
TEST(StagePayloadFile, WritesOnlyWhatMatchesItsEntryAndNeverReplacesAnything) {
  const struct {
    const char* name;
    std::uint64_t size;
    const wchar_t* relative;
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
  Sha256Hasher hasher;
  ASSERT_TRUE(OpenSha256Hasher(hasher));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    ASSERT_TRUE(!c.existing || WriteBytes(scratch / c.existing, "kept"));
    StagingTree tree;
    ASSERT_TRUE(MakeStagingTree(scratch.path(), tree));
    const PayloadEntry entry{1001, c.relative, c.size, kPayloadDigest};
    std::wstring target;
    EXPECT_EQ(StagePayloadFile(entry, tree, target) && MatchesManifest(hasher, target, entry), c.ok);
    EXPECT_EQ(PathExists(scratch / c.check), c.content != nullptr);
    EXPECT_EQ(ReadBytes(scratch / c.check), c.content ? c.content : "");
  }
}
