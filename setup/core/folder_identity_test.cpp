#include "setup/core/folder_identity.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "testing/scratch_folder.h"

namespace {

std::wstring Identity(const std::wstring& text) {
  auto identity = IdentifyFolder(text);
  return identity ? identity->path : L"<refused>";
}

}  // namespace

TEST(IdentifyFolder, GivesEveryNameOfAFolderOneStableSpelling) {
  ScratchFolder scratch;
  const std::wstring existing = scratch / L"Long Folder Name";
  ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
  const std::wstring canonical = Identity(existing);
  ASSERT_NE(canonical, L"<refused>");
  std::wstring lowerDrive = existing, upperCase = existing, slashes = existing, shortName(MAX_PATH, L'\0');
  lowerDrive[0] = wchar_t(towlower(lowerDrive[0]));
  for (wchar_t& c : upperCase) c = wchar_t(towupper(c));
  for (wchar_t& c : slashes) c = c == L'\\' ? L'/' : c;
  shortName.resize(GetShortPathNameW(existing.c_str(), shortName.data(), MAX_PATH));
  ASSERT_TRUE(shortName.size() < MAX_PATH && shortName.find(L'~') != std::wstring::npos) << "no short name to try";
  const std::wstring names[] = {existing,  lowerDrive, upperCase, slashes + L"/", shortName,
                                scratch / L".\\Long Folder Name\\.", scratch / L"x\\..\\Long Folder Name"};
  for (const auto& name : names) {
    EXPECT_EQ(Identity(name), canonical) << name;
    EXPECT_EQ(Identity(JoinPath(name, L"New")), JoinPath(canonical, L"New")) << name;
  }
  EXPECT_EQ(Identity(canonical), canonical);
}

TEST(IdentifyFolder, RefusesNamesWindowsWouldReadAsAnotherFolderOrADevice) {
  const wchar_t* refused[] = {
      L"C:\\Apps\\Velmora ",   L"C:\\Apps\\Velmora.",   L"C:\\Apps.\\Velmora",     L"C:\\Apps \\Velmora",
      L"C:\\NUL",              L"C:\\Apps\\com1",       L"C:\\Apps\\nul.txt\\x",  L"C:\\Apps\\LPT9 .log",
      L"C:\\CON\\Velmora",     L"C:\\Apps\\CONOUT$",    L"C:\\Apps\\Velmora:x",    L"C:\\Apps\\Vel*mora"};
  for (const wchar_t* text : refused) EXPECT_EQ(Identity(text), L"<refused>") << text;
  const wchar_t* accepted[] = {L"C:\\Apps\\Velmora", L"C:\\Apps\\Console", L"C:\\Apps\\COM10", L"C:\\Apps\\nullable"};
  for (const wchar_t* text : accepted) EXPECT_EQ(Identity(text), text) << text;
}
