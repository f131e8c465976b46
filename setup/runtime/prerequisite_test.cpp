#include "setup/runtime/prerequisite.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

// "velmora" hashed with SHA-256.
constexpr char kContent[] = "velmora";
const std::wstring kDigest = L"5bd20b1429301ffece1e15fb102ca635b14879d48431cd5aaa497b7491711545";
const std::wstring kOtherDigest(64, L'0');

RuntimeDescriptor DescriptorOf(const std::wstring& digest, std::uint64_t size) {
  RuntimeDescriptor descriptor;
  descriptor.url = L"https://localhost/runtime.exe";
  descriptor.size = size;
  descriptor.sha256 = digest;
  return descriptor;
}

// A package whose size or digest differs is refused; the verified one stays locked against
// every change until it has run.
TEST(RuntimePackageLock, RefusesAnotherSizeOrDigestAndHoldsTheVerifiedPackage) {
  ScratchFolder scratch;
  const std::wstring path = scratch / L"lock.download", moved = path + L".moved";
  ASSERT_TRUE(WriteBytes(path, kContent));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path, DescriptorOf(kDigest, 8)));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path, DescriptorOf(kOtherDigest, 7)));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path + L".missing", DescriptorOf(kDigest, 7)));
  UniqueFile lock = OpenVerifiedRuntimePackage(path, DescriptorOf(kDigest, 7));
  ASSERT_TRUE(lock);
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExW(path.c_str(), moved.c_str(), 0));
  UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer);
  EXPECT_EQ(ReadBytes(path), kContent);
  // Starting the program needs only read access: the lock allows it.
  UniqueFile reader(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(reader);
  reader.reset();
  lock.reset();
  // The same rename succeeds once the lock is gone, so the refusals above were real.
  EXPECT_TRUE(MoveFileExW(path.c_str(), moved.c_str(), 0));
  EXPECT_FALSE(PathExists(path));
}

}  // namespace
