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
  FuzzRandom folders{0xF01DE125EEDULL};
  RunFuzz("paths", kRelatives, 0x5eedC0DE1234ULL, 20000, [&](const std::wstring& relative, std::uint64_t i) {
    const std::wstring folderInput = i % 4 == 0 ? Mutate(kFolders, folders) : kFolders[folders.Below(kFolders.size())];
    const bool valid = IsValidRelativePath(relative);
    EXPECT_EQ(valid, OracleValidRelativePath(relative)) << "input " << i;
    const std::wstring folder = NormalizeFolderPath(folderInput);
    if (!folder.empty()) {
      EXPECT_TRUE(folder.size() >= 4 && folder.size() <= 220 && folder[1] == L':' && folder[2] == L'\\' &&
                  folder.back() != L'\\' && folder.find(L'/') == std::wstring::npos)
          << "input " << i;
    }
    std::wstring resolved = L"untouched";
    if (!ResolveInsideFolder(folderInput, relative, resolved)) return false;
    EXPECT_TRUE(valid && !folder.empty() && IsStrictlyInside(resolved, folder)) << "input " << i;
    return true;
  });
}

}  // namespace
