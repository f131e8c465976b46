#include "setup/engine/installed_record.h"

#include <gtest/gtest.h>

#include "testing/engine_test_support.h"

using namespace engine_test;

TEST(WriteUtf8TextFile, WritesExactUtf8OnceAndFailsWhenTheWriteOrTheFlushFails) {
  ScratchFolder scratch;
  const std::wstring path = scratch / L"record";
  const std::wstring text = L"1001\tVelmora.exe\t12\tab\r\n1002\t数据/岫澜.txt\t3\tCD\n";
  ASSERT_TRUE(WriteUtf8TextFile(path, text));
  const std::string utf8 = "1001\tVelmora.exe\t12\tab\r\n1002\t\xE6\x95\xB0\xE6\x8D\xAE/\xE5\xB2\xAB\xE6\xBE\x9C.txt\t3\tCD\n";
  EXPECT_EQ(ReadBytes(path), utf8);
  EXPECT_FALSE(WriteUtf8TextFile(path, L"new"));
  EXPECT_EQ(ReadBytes(path), utf8);
  EXPECT_FALSE(WriteUtf8TextFile(scratch / L"empty", L""));
  EXPECT_FALSE(PathExists(scratch / L"empty"));
  EXPECT_FALSE(WriteUtf8TextFile(scratch / L"missing\\record", L"x"));
  engineCalls.writeFile = [](HANDLE, LPCVOID, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
    *written = size - 1;  // a short write
    return TRUE;
  };
  EXPECT_FALSE(WriteUtf8TextFile(scratch / L"short", L"abc"));
  engineCalls = RealEngineCalls();
  engineCalls.flushFile = [](HANDLE) -> BOOL { return FALSE; };
  EXPECT_FALSE(WriteUtf8TextFile(scratch / L"unflushed", L"abc"));
  engineCalls = RealEngineCalls();
}
