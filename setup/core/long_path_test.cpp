#include "setup/core/long_path.h"

#include <gtest/gtest.h>

#include "setup/core/text.h"

TEST(LongPath, PrefixesNormalisedAbsolutePathsOnly) {
  const struct {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\x", L"\\\\?\\C:\\x"}, {L"C:\\Velmora\\*", L"\\\\?\\C:\\Velmora\\*"},
      {L"d:\\Program Files\\Velmora\\a\\b.txt", L"\\\\?\\d:\\Program Files\\Velmora\\a\\b.txt"},
      {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"}, {L"C:\\a..\\b", L"\\\\?\\C:\\a..\\b"},
      // Already prefixed, relative or not normalised: left as they are.
      {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"}, {L"\\\\.\\pipe\\p", L"\\\\.\\pipe\\p"}, {L"C:x", L"C:x"},
      {L"C:/x", L"C:/x"}, {L"C:\\a\\..\\b", L"C:\\a\\..\\b"}, {L"C:\\a\\.\\b", L"C:\\a\\.\\b"},
  };
  for (const auto& c : cases) EXPECT_EQ(LongPath(c.path), c.expected) << WideToUtf8(c.path);
}
