// Mutated folder and relative paths: the rules hold and nothing accepted leaves its folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "testing/fuzz_mutator.h"
#include "testing/fuzz_oracles.h"

namespace {

const std::vector<std::wstring> kFolders = {
    L"C:\\velmora-fuzz\\Program Files\\Velmora", L"C:/velmora-fuzz/a/../b", L"D:\\x\\y\\", L"C:\\a\\..",
    L"c:\\velmora-fuzz\\.\\deep\\er", L"\\\\server\\share\\x", L"C:\\velmora-fuzz\\岫澜\\应用"};
const std::vector<std::wstring> kRelatives = {
    L"bin\\a.dll", L"a/b.dll", L"..\\escape.txt", L"a\\..\\..\\b", L"x\\.\\y", L"Velmora.exe", L"data/sub/file.bin",
    L"a..\\b", L"...\\x", L"con\\aux.txt", L"资料\\说明.txt", L"a\\b\\c\\d\\e\\f\\g.txt",
    L"data\\" + std::wstring(235, L'x')};  // the longest allowed, 240

TEST(PathsFuzz, RelativePathRulesAndResolutionStayInsideTheFolder) {
  FuzzRandom folders{0xF01DE125EEDULL};
  RunFuzz("paths", kRelatives, 0x5eedC0DE1234ULL, 20000, [&](const std::wstring& relative, std::uint64_t i) {
    const std::wstring folderInput = i % 4 == 0 ? Mutate(kFolders, folders) : kFolders[folders.Below(kFolders.size())];
    const bool valid = IsValidRelativePath(relative);
    EXPECT_EQ(valid, OracleValidRelativePath(relative)) << "input " << i;
    const std::wstring folder = NormalizeFolderPath(folderInput);
    EXPECT_TRUE(folder.empty() || (folder.size() >= 4 && folder.size() <= 220 && folder.find(L":\\") == 1 &&
                                   folder.back() != L'\\' && folder.find(L'/') == std::wstring::npos))
        << "input " << i;
    std::wstring resolved = L"untouched";
    if (!ResolveInsideFolder(folderInput, relative, resolved)) return false;
    // Strictly inside: the folder, a backslash, then no step back out and no forward slash.
    const std::wstring head = folder + L"\\";
    const std::wstring rest = L"\\" + resolved.substr(std::min(head.size(), resolved.size())) + L"\\";
    EXPECT_TRUE(valid && !folder.empty() && resolved.size() > head.size() &&
                EqualsIgnoreAsciiCase(resolved.substr(0, head.size()), head) && rest.find(L"\\..\\") == rest.npos &&
                rest.find(L"\\.\\") == rest.npos && resolved.find(L'/') == rest.npos)
        << "input " << i;
    return true;
  });
}

}  // namespace
