// Record-guided removal on real files. Every record here fails the run before the finishing
// steps that touch the registry entry and shortcuts; complete removals, the spellings a
// record may use and unsafe folders are exercised end to end.
#include "setup/uninstall/uninstall_worker.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "setup/uninstall/uninstall_flow.h"
#include "testing/engine_test_support.h"
#include "testing/fuzz_mutator.h"

using namespace engine_test;

namespace {

void Put(const std::wstring& path, const std::string& bytes = "x") {
  EXPECT_TRUE(EnsureDirectory(ParentPath(path)) && WriteBytes(path, bytes));
}

// A listed file beside a line that breaks the rules is still removed; a record that
// cannot be read as a whole removes nothing. Either way the record stays for another
// attempt. (A line climbing out: uninstall_refusals_test.py; the path rules: PathsFuzz.)
TEST(UninstallWorker, BadEntriesFailTheRunAndUnreadableRecordsTouchNothing) {
  std::string oneMebibyte = "1\tapp.dll\t1\th\n";
  oneMebibyte += std::string(1048576 - oneMebibyte.size(), 'x');  // one long bad line
  const std::pair<std::string, bool> cases[] = {  // record, app.dll removed
      {"1\tapp.dll\t1\th\n\n2\tother.txt\t1\th\n", true},
      {"1\tapp.dll\t1\th\n\n", true},
      {"1\tapp.dll\t1\th\njust-a-name\n", true},
      {oneMebibyte, true},
      {std::string(1048577, 'x'), false},
      {"", false},
      {"1\tapp.dll\t1\th\n2\tb\xC3\x28.txt\t1\th\n", false},  // not UTF-8
      {"\xEF\xBB", false},                                    // a cut byte-order mark
  };
  ScratchFolder scratch(L"velmora-uw");
  const std::wstring folder = JoinPath(scratch.path(), L"Velmora");
  for (const auto& [record, removed] : cases) {
    SCOPED_TRACE(record.substr(0, 40));
    Put(JoinPath(folder, L"app.dll"));
    Put(JoinPath(folder, L".install-manifest"), record);
    EXPECT_FALSE(UninstallFromRecord(folder));
    EXPECT_EQ(PathExists(JoinPath(folder, L"app.dll")), !removed);
    EXPECT_TRUE(PathExists(JoinPath(folder, L".install-manifest")));
  }
  DeleteFileW(JoinPath(folder, L".install-manifest").c_str());
  EXPECT_FALSE(UninstallFromRecord(folder));
  EXPECT_TRUE(PathExists(JoinPath(folder, L"app.dll")));
}

// Whatever a mutated record says, nothing outside the folder is deleted. Every record
// ends with a line that breaks the rules.
TEST(UninstallRecordFuzz, NothingOutsideTheFolderIsEverDeleted) {
  const std::vector<std::wstring> inside = {L"Velmora.exe", L"bin\\a.dll", L"data\\sub\\x.txt"};
  const std::vector<std::wstring> outside = {L"outside.txt", L"Velmora-sibling\\x.txt", L"Velmora.txt"};
  auto line = [](const std::wstring& relative) {
    return L"1001\t" + relative + L"\t1\t" + std::wstring(64, L'a') + L"\n";
  };
  const std::vector<std::wstring> seeds = {
      line(L"Velmora.exe") + line(L"bin\\a.dll") + line(L"data/sub/x.txt"),
      line(L"..\\outside.txt") + line(L"bin\\..\\..\\outside.txt") + line(L"..\\Velmora-sibling\\x.txt"),
      line(L"data\\sub\\..\\..\\..\\Velmora.txt") + line(L"C:\\outside.txt") + line(L"\\\\?\\C:\\outside.txt"),
      line(L"bin/../../Velmora-sibling/x.txt") + line(L"..") + line(L".\\..\\outside.txt"),
  };
  ScratchFolder scratch(L"velmora-record-fuzz");
  const std::wstring& base = scratch.path();
  const std::wstring folder = JoinPath(base, L"Velmora");
  for (const auto& name : outside) Put(JoinPath(base, name), "keep");
  RunFuzz("uninstall-record", seeds, 0x0BADC0FFEE5EEDULL, 300, [&](const std::wstring& text, std::uint64_t i) {
    for (const auto& name : inside) Put(JoinPath(folder, name));
    Put(JoinPath(folder, L".install-manifest"), WideToUtf8(text + L"\n1001\t..\\never\t1\th\n"));
    EXPECT_FALSE(UninstallFromRecord(folder)) << "input " << i;
    bool removedAny = false;
    for (const auto& name : outside) EXPECT_TRUE(PathExists(JoinPath(base, name))) << "input " << i;
    for (const auto& name : inside) removedAny = removedAny || !PathExists(JoinPath(folder, name));
    return removedAny;
  });
}

// The folder must come back whole, a trailing backslash included (it would escape the quote).
TEST(UninstallFlow, WorkerCommandLineReadsBackAsTheFolder) {
  for (const std::wstring folder : {L"C:\\Program Files\\Velmora", L"C:\\Apps\\Velmora\\", L"D:\\a b\\\\", L""}) {
    std::wstring line = L"copy.exe " + WorkerCommandLine(folder, true);
    SCOPED_TRACE(WideToUtf8(line));
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_EQ(count, 5);
    EXPECT_EQ(std::vector<std::wstring>(args + 3, args + 5), std::vector<std::wstring>({folder, L"/quiet"}));
    LocalFree(args);
  }
}

}  // namespace
