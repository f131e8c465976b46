#include "setup/runtime/prerequisite.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

// A package whose size or digest differs is refused; the verified one stays locked against
// every change until it has run. The digest's letter case does not matter.
TEST(RuntimePackageLock, RefusesAnotherSizeOrDigestAndHoldsTheVerifiedPackage) {
  const std::wstring url = L"https://localhost/runtime.exe";
  // "velmora" hashed with SHA-256, in mixed letter case.
  const std::wstring digest = L"5BD20B1429301FFECE1E15FB102CA635b14879d48431cd5aaa497b7491711545";
  ScratchFolder scratch;
  const std::wstring path = scratch / L"lock.download", moved = path + L".moved";
  ASSERT_TRUE(WriteBytes(path, "velmora"));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path, {url, 8, digest}));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path, {url, 7, std::wstring(64, L'0')}));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path + L".missing", {url, 7, digest}));
  UniqueFile lock = OpenVerifiedRuntimePackage(path, {url, 7, digest});
  ASSERT_TRUE(lock);
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExW(path.c_str(), moved.c_str(), 0));
  UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer);
  EXPECT_EQ(ReadBytes(path), "velmora");
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
