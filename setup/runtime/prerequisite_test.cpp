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

// Runs a command in another process; its exit code.
DWORD RunCommand(const std::wstring& command) {
  std::wstring line = L"cmd.exe /c " + command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started)) {
    return DWORD(-1);
  }
  UniqueHandle process(started.hProcess), thread(started.hThread);
  WaitForSingleObject(process.get(), 30000);
  DWORD code = DWORD(-1);
  GetExitCodeProcess(process.get(), &code);
  return code;
}

RuntimeDescriptor DescriptorOf(const std::wstring& digest, std::uint64_t size) {
  RuntimeDescriptor descriptor;
  descriptor.url = L"https://localhost/runtime.exe";
  descriptor.size = size;
  descriptor.sha256 = digest;
  return descriptor;
}

TEST(RuntimePackageLock, VerifiedPackageCannotBeReplacedWhileHeld) {
  ScratchFolder scratch;
  const std::wstring path = scratch / L"lock.download";
  ASSERT_TRUE(WriteBytes(path, kContent));
  UniqueFile lock = OpenVerifiedRuntimePackage(path, DescriptorOf(kDigest, 7));
  ASSERT_TRUE(lock);
  const std::wstring quoted = L"\"" + path + L"\"";
  RunCommand(L"echo replaced> " + quoted);
  RunCommand(L"del /f /q " + quoted);
  EXPECT_NE(RunCommand(L"ren " + quoted + L" lock.moved"), 0u);
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0));
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
  // The same command succeeds once the lock is gone, so the refusals above were real.
  EXPECT_EQ(RunCommand(L"ren " + quoted + L" lock.moved"), 0u);
  EXPECT_FALSE(PathExists(path));
}

TEST(RuntimePackageLock, RefusesAnotherSizeOrDigest) {
  ScratchFolder scratch;
  const std::wstring path = scratch / L"refusal.download";
  ASSERT_TRUE(WriteBytes(path, kContent));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path, DescriptorOf(kDigest, 8)));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path, DescriptorOf(kOtherDigest, 7)));
  EXPECT_FALSE(OpenVerifiedRuntimePackage(path + L".missing", DescriptorOf(kDigest, 7)));
  EXPECT_TRUE(OpenVerifiedRuntimePackage(path, DescriptorOf(kDigest, 7)));
}

}  // namespace
