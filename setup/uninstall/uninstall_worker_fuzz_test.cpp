// Mutated installed-files records: whatever a record says, the uninstall deletes nothing
// outside the installation folder. Every record ends with a line that breaks the rules,
// so no run reaches the finishing steps that touch the process-wide registry entry and
// shortcuts.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "setup/uninstall/uninstall_worker.h"
#include "testing/engine_test_support.h"
#include "testing/fuzz_mutator.h"

using namespace engine_test;

namespace {

const std::wstring kHex(64, L'a');
const std::vector<std::wstring> kInside = {L"Velmora.exe", L"bin\\a.dll", L"data\\sub\\x.txt"};
const std::vector<std::wstring> kOutside = {L"outside.txt", L"Velmora-sibling\\x.txt", L"Velmora.txt"};

std::wstring Line(const std::wstring& relative) { return L"1001\t" + relative + L"\t1\t" + kHex + L"\n"; }

const std::vector<std::wstring> kSeeds = {
    Line(L"Velmora.exe") + Line(L"bin\\a.dll") + Line(L"data/sub/x.txt"),
    Line(L"..\\outside.txt") + Line(L"bin\\..\\..\\outside.txt") + Line(L"..\\Velmora-sibling\\x.txt"),
    Line(L"data\\sub\\..\\..\\..\\Velmora.txt") + Line(L"C:\\outside.txt") + Line(L"\\\\?\\C:\\outside.txt"),
    Line(L"bin/../../Velmora-sibling/x.txt") + Line(L"..") + Line(L".\\..\\outside.txt"),
};

void Put(const std::wstring& path, const std::string& bytes) {
  if (EnsureDirectory(ParentPath(path))) WriteBytes(path, bytes);
}

TEST(UninstallRecordFuzz, NothingOutsideTheFolderIsEverDeleted) {
  ScratchFolder scratch(L"velmora-record-fuzz");
  const std::wstring& base = scratch.path();
  const std::wstring folder = JoinPath(base, L"Velmora");
  for (const auto& outside : kOutside) Put(JoinPath(base, outside), "keep");
  RunFuzz("uninstall-record", kSeeds, 0x0BADC0FFEE5EEDULL, 300, [&](const std::wstring& text, std::uint64_t i) {
    for (const auto& inside : kInside) Put(JoinPath(folder, inside), "x");
    Put(JoinPath(folder, L".install-manifest"), WideToUtf8(text + L"\n1001\t..\\never\t1\th\n"));
    EXPECT_FALSE(UninstallFromRecord(folder)) << "input " << i;
    for (const auto& outside : kOutside) EXPECT_TRUE(PathExists(JoinPath(base, outside))) << "input " << i;
    bool removedAny = false;
    for (const auto& inside : kInside) removedAny = removedAny || !PathExists(JoinPath(folder, inside));
    return removedAny;
  });
}

}  // namespace
