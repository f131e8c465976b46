// Prints the 8.3 short name of an existing path (UTF-8, no newline), so tests can name a
// folder the way an attacker would; exits 1 when there is none.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD length = argc < 2 ? 0 : GetShortPathNameW(argv[1], buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  char text[4 * MAX_PATH] = {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer, int(length), text, sizeof(text), nullptr, nullptr);
  std::fwrite(text, 1, size_t(bytes), stdout);
  return 0;
}
