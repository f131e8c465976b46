// Mutated folder and relative paths: the rules hold and nothing accepted leaves its folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "testing/fuzz_mutator.h"
#include "testing/fuzz_oracles.h"

namespace {

bool IsStrictlyInside(const std::wstring& inside, const std::wstring& folder) {
  std::wstring prefix = folder + L"\\";
  if (inside.size() <= prefix.size()) return false;
  if (!EqualsIgnoreAsciiCase(inside.substr(0, prefix.size()), prefix)) return false;
  // No step back out of the folder may remain after resolution.
  std::wstring rest = L"\\" + inside.substr(prefix.size()) + L"\\";
  return rest.find(L"\\..\\") == std::wstring::npos && rest.find(L"\\.\\") == std::wstring::npos &&
         inside.find(L'/') == std::wstring::npos;
}

const std::vector<std::wstring> kFolders = {
    L"C:\\velmora-fuzz\\Program Files\\Velmora", L"C:/velmora-fuzz/a/../b", L"D:\\x\\y\\", L"C:\\a\\..",
    L"c:\\velmora-fuzz\\.\\deep\\er", L"\\\\server\\share\\x", L"C:\\velmora-fuzz\\岫澜\\应用"};
const std::vector<std::wstring> kRelatives = {
    L"bin\\a.dll", L"a/b.dll", L"..\\escape.txt", L"a\\..\\..\\b", L"x\\.\\y", L"Velmora.exe", L"data/sub/file.bin",
    L"a..\\b", L"...\\x", L"con\\aux.txt", L"资料\\说明.txt", L"a\\b\\c\\d\\e\\f\\g.txt"};

TEST(PathsFuzz, RelativePathRulesAndResolutionStayInsideTheFolder) {
  const std::uint64_t count = FuzzInputCount(20000);
  FuzzRandom random{0x5eedC0DE1234ULL};
  FuzzCounts counts;
  ULONGLONG start = GetTickCount64();
  for (std::uint64_t i = 0; i < count; ++i) {
    std::wstring relative = Mutate(kRelatives, random);
    std::wstring folderInput = (i % 4 == 0) ? Mutate(kFolders, random) : kFolders[random.Below(kFolders.size())];
    ++counts.inputs;
    bool valid = IsValidRelativePath(relative);
    ASSERT_EQ(valid, OracleValidRelativePath(relative)) << "input " << i;
    std::wstring folder = NormalizeFolderPath(folderInput);
    if (!folder.empty()) {
      ASSERT_GE(folder.size(), 4u);
      ASSERT_LE(folder.size(), 220u);
      ASSERT_EQ(folder[1], L':');
      ASSERT_EQ(folder[2], L'\\');
      ASSERT_NE(folder.back(), L'\\');
      ASSERT_EQ(folder.find(L'/'), std::wstring::npos);
    }
    std::wstring resolved = L"untouched";
    if (ResolveInsideFolder(folderInput, relative, resolved)) {
      ++counts.accepted;
      ASSERT_TRUE(valid) << "input " << i;
      ASSERT_FALSE(folder.empty()) << "input " << i;
      ASSERT_TRUE(IsStrictlyInside(resolved, folder)) << "input " << i;
    } else {
      ++counts.rejected;
    }
  }
  PrintFuzzCounts("paths", counts, FuzzSecondsSince(start));
}

}  // namespace
