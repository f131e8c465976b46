#include "setup/core/sha256.h"
#include "setup/engine/payload_extract.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Resource 1001 of this test program holds these 21 bytes.
const std::string kPayload = "Velmora test payload\n";
const std::wstring kPayloadDigest = L"E798DD26964403CE27304D239928E5B45DC415E26BDBB0F98EF2ADAE17559FE8";
const std::wstring kEmptyDigest = L"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";

// A folder of its own for each test, removed with everything in it afterwards.
class ScratchFolder : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    folder_ = fs::temp_directory_path() /
              (L"velmora-engine-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  std::wstring PathOf(const std::wstring& name) const { return (folder_ / name).wstring(); }
  static std::string ContentOf(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary);
    out << bytes;
  }

  fs::path folder_;
};

PayloadEntry PayloadOf(std::uint64_t size, const std::wstring& digest, std::int32_t id = 1001) {
  return PayloadEntry{id, L"Velmora.exe", size, digest};
}

using ComputeFileSha256Test = ScratchFolder;

TEST_F(ComputeFileSha256Test, EmptyFileGivesTheDigestOfEmptyInput) {
  Write(PathOf(L"empty"), "");
  std::wstring digest;
  ASSERT_TRUE(ComputeFileSha256(PathOf(L"empty"), digest));
  EXPECT_EQ(digest, kEmptyDigest);
}

TEST_F(ComputeFileSha256Test, FileOfSeveralBlocksMatchesSha256sum) {
  // Bytes (i * 31 + 7) mod 251 for 3 MiB + 17 bytes; the expected digest is what
  // coreutils sha256sum gives for the same bytes.
  std::string bytes(3 * 1048576 + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 31 + 7) % 251);
  Write(PathOf(L"blocks.bin"), bytes);
  std::wstring digest;
  ASSERT_TRUE(ComputeFileSha256(PathOf(L"blocks.bin"), digest));
  EXPECT_EQ(digest, L"E7BFF00C7B67234117B8C364725CF2B41FC31F7F46674B1A4A6B3C5516B3A6ED");
}

TEST_F(ComputeFileSha256Test, MissingPathFailsAndLeavesTheOutput) {
  std::wstring digest = L"unchanged";
  EXPECT_FALSE(ComputeFileSha256(PathOf(L"absent"), digest));
  EXPECT_EQ(digest, L"unchanged");
  EXPECT_FALSE(ComputeFileSha256(folder_.wstring(), digest));
  EXPECT_EQ(digest, L"unchanged");
}

using ExtractPayloadFileTest = ScratchFolder;

TEST_F(ExtractPayloadFileTest, WritesTheResourceAndCreatesMissingFolders) {
  std::wstring target = PathOf(L"staging\\a\\b\\Velmora.exe");
  ASSERT_TRUE(ExtractPayloadFile(PayloadOf(21, kPayloadDigest), target));
  EXPECT_EQ(ContentOf(target), kPayload);
}

TEST_F(ExtractPayloadFileTest, LowerCaseManifestDigestMatches) {
  std::wstring lower = kPayloadDigest;
  for (wchar_t& c : lower) c = wchar_t(towlower(c));
  EXPECT_TRUE(ExtractPayloadFile(PayloadOf(21, lower), PathOf(L"Velmora.exe")));
}

TEST_F(ExtractPayloadFileTest, SizeMismatchFailsBeforeAnythingIsCreated) {
  for (std::uint64_t size : {20ull, 22ull, 21ull + (1ull << 32)}) {
    SCOPED_TRACE(size);
    std::wstring target = PathOf(L"new\\Velmora.exe");
    EXPECT_FALSE(ExtractPayloadFile(PayloadOf(size, kPayloadDigest), target));
    EXPECT_FALSE(fs::exists(folder_ / L"new"));
  }
}

TEST_F(ExtractPayloadFileTest, ExistingTargetFailsAndIsLeftUntouched) {
  std::wstring target = PathOf(L"Velmora.exe");
  Write(target, "already here");
  EXPECT_FALSE(ExtractPayloadFile(PayloadOf(21, kPayloadDigest), target));
  EXPECT_EQ(ContentOf(target), "already here");
}

TEST_F(ExtractPayloadFileTest, WrongDigestFailsAfterWritingAndLeavesTheFile) {
  std::wstring wrong = kPayloadDigest;
  wrong[10] = L'0';
  std::wstring target = PathOf(L"Velmora.exe");
  EXPECT_FALSE(ExtractPayloadFile(PayloadOf(21, wrong), target));
  EXPECT_EQ(ContentOf(target), kPayload);
}

TEST_F(ExtractPayloadFileTest, MissingResourceFailsWithoutWriting) {
  std::wstring target = PathOf(L"Velmora.exe");
  EXPECT_FALSE(ExtractPayloadFile(PayloadOf(21, kPayloadDigest, 4242), target));
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(ExtractPayloadFileTest, FileWhereTheParentFolderMustGoFails) {
  Write(PathOf(L"blocker"), "x");
  EXPECT_FALSE(ExtractPayloadFile(PayloadOf(21, kPayloadDigest), PathOf(L"blocker\\Velmora.exe")));
  EXPECT_EQ(ContentOf(PathOf(L"blocker")), "x");
}

}  // namespace
