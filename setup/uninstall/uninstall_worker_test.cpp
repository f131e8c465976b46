// Record-guided removal on real files. Every case here leaves the result false before
// the finishing steps, so the process-wide registry entry and shortcuts are never
// touched; complete removals are exercised end to end.
#include "setup/uninstall/uninstall_worker.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "testing/engine_test_support.h"

using namespace engine_test;

namespace {

class UninstallWorker : public testing::Test {
 protected:
  void SetUp() override {
    base_ = scratch_.path();
    folder_ = JoinPath(base_, L"Velmora");
    ASSERT_TRUE(EnsureDirectory(folder_));
  }

  std::wstring Put(const std::wstring& relative, const std::string& bytes = "x") {
    const std::wstring path = JoinPath(folder_, relative);
    EXPECT_TRUE(EnsureDirectory(ParentPath(path)) && WriteBytes(path, bytes));
    return path;
  }
  void Record(const std::string& bytes) { Put(L".install-manifest", bytes); }
  bool Has(const std::wstring& relative) const { return PathExists(JoinPath(folder_, relative)); }

  ScratchFolder scratch_{L"velmora-uw"};
  std::wstring base_, folder_;
};

// A listed file beside a line that breaks the rules is still removed; a record that
// cannot be read as a whole removes nothing. Either way the result is false, the record
// stays for another attempt and nothing outside the folder is touched.
TEST_F(UninstallWorker, BadEntriesFailTheRunAndUnreadableRecordsTouchNothing) {
  std::string oneMebibyte = "1\tapp.dll\t1\th\n";
  oneMebibyte += std::string(1048576 - oneMebibyte.size(), 'x');  // one long bad line
  struct Case {
    const char* name;
    std::string record;
    bool removed;  // app.dll
  };
  const Case cases[] = {
      {"climbing out", "1\tapp.dll\t1\th\n2\t..\\outside.txt\t1\th\n", true},
      {"empty line in the middle", "1\tapp.dll\t1\th\n\n2\tother.txt\t1\th\n", true},
      {"empty last line", "1\tapp.dll\t1\th\n\n", true},
      {"no tab", "1\tapp.dll\t1\th\njust-a-name\n", true},
      {"nothing after the tab", "1\tapp.dll\t1\th\n2\t\n", true},
      {"absolute path", "1\tapp.dll\t1\th\n2\tC:\\outside.txt\n", true},
      {"wildcard", "1\tapp.dll\t1\th\n2\t*.txt\n", true},
      {"exactly one mebibyte", oneMebibyte, true},
      {"one byte more", std::string(1048577, 'x'), false},
      {"empty", "", false},
      {"not UTF-8", "1\tapp.dll\t1\th\n2\tb\xC3\x28.txt\t1\th\n", false},
      {"a cut byte-order mark", "\xEF\xBB", false},
  };
  const std::wstring outside = JoinPath(base_, L"outside.txt");
  ASSERT_TRUE(WriteBytes(outside, "x"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put(L"app.dll");
    Record(c.record);
    EXPECT_FALSE(UninstallFromRecord(folder_));
    EXPECT_EQ(Has(L"app.dll"), !c.removed);
    EXPECT_TRUE(Has(L".install-manifest"));
    EXPECT_TRUE(PathExists(outside));
  }
  DeleteFileW(JoinPath(folder_, L".install-manifest").c_str());
  EXPECT_FALSE(UninstallFromRecord(folder_));
  EXPECT_TRUE(Has(L"app.dll"));
}

TEST_F(UninstallWorker, UnsafeFoldersAreRefusedUntouched) {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  for (const std::wstring& folder : {std::wstring(L"C:\\"), std::wstring(L"relative\\Velmora"),
                                     JoinPath(windows, L"Velmora"), std::wstring(L"C:\\ProgramData"), std::wstring()}) {
    EXPECT_FALSE(UninstallFromRecord(folder)) << std::string(folder.begin(), folder.end());
  }
}

// Folders emptied by the removal go deepest first; a folder holding anything the record
// does not list stays with it. Line ends may be CR LF, paths may use forward slashes.
// The last line fails the run: both programs, however the record spells them, stay for
// the next attempt.
TEST_F(UninstallWorker, EmptiedFoldersGoAndOthersStay) {
  for (const wchar_t* name : {L"bin\\a.dll", L"bin\\sub\\deeper\\b.dll", L"data\\c.dat", L"data\\user-settings.ini",
                              L"readonly.txt", L"Uninstall.exe", L"Velmora.Maintenance.exe"}) {
    Put(name);
  }
  SetFileAttributesW(JoinPath(folder_, L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  Record(
      "1\tbin\\a.dll\t1\th\r\n2\tbin/sub/deeper/b.dll\t1\th\r\n3\tdata\\c.dat\t1\th\r\n"
      "4\treadonly.txt\t1\th\r\n5\tmissing\\gone.txt\t1\th\r\n6\tbin\t1\th\r\n7\tUNINSTALL.EXE\t1\th\r\n"
      "8\tvelmora.maintenance.exe\t1\th\r\n9\tbad\r\n");
  EXPECT_FALSE(UninstallFromRecord(folder_));
  EXPECT_FALSE(Has(L"bin"));
  EXPECT_FALSE(Has(L"readonly.txt"));
  EXPECT_FALSE(Has(L"data\\c.dat"));
  EXPECT_TRUE(Has(L"data\\user-settings.ini"));
  EXPECT_TRUE(Has(L"Uninstall.exe") && Has(L"Velmora.Maintenance.exe"));
  EXPECT_TRUE(Has(L".install-manifest"));
}

}  // namespace
