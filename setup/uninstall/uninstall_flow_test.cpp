#include "setup/uninstall/uninstall_flow.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include "setup/core/text.h"

// The folder must come back whole, a trailing backslash included (it would escape the quote).
TEST(UninstallFlow, WorkerCommandLineReadsBackAsTheFolder) {
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
