#include "setup/uninstall/uninstall_flow.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include "setup/core/text.h"

namespace {

TEST(UninstallFlow, CopyNamesArePlainDecimals) {
  EXPECT_EQ(HandOffCopyName(77, 815), L"Uninstall-77-815.exe");
  EXPECT_EQ(HandOffCopyName(4294967295u, 18446744073709551615ull),
            L"Uninstall-4294967295-18446744073709551615.exe");
  EXPECT_NE(HandOffCopyName(77, 815), HandOffCopyName(77, 816));
}

TEST(UninstallFlow, WorkerCommandLineReadsBackAsTheFolder) {
  EXPECT_EQ(WorkerCommandLine(L"C:\\Apps\\Velmora", false), L"/uninstall-worker /target \"C:\\Apps\\Velmora\"");
  EXPECT_EQ(WorkerCommandLine(L"C:\\Apps\\Velmora", true),
            L"/uninstall-worker /target \"C:\\Apps\\Velmora\" /quiet");
  for (const std::wstring folder : {L"C:\\Program Files\\Velmora", L"C:\\Apps\\Velmora\\", L"D:\\a b\\\\", L""}) {
    std::wstring line = L"copy.exe " + WorkerCommandLine(folder, true);
    SCOPED_TRACE(WideToUtf8(line));
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(args, nullptr);
    ASSERT_EQ(count, 5);
    EXPECT_STREQ(args[3], folder.c_str());
    EXPECT_STREQ(args[4], L"/quiet");
    LocalFree(args);
  }
}

TEST(UninstallFlow, OwnProgramPathIsThisProgram) {
  std::wstring own = GetOwnProgramPath();
  ASSERT_GT(own.size(), 4u);
  EXPECT_TRUE(EqualsIgnoreAsciiCase(own.substr(own.size() - 4), L".exe"));
  EXPECT_NE(GetFileAttributesW(own.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
