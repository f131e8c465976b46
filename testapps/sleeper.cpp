// Writes its Windows process id to a file, then lives for the given number of
// milliseconds: a process that ends at a known time.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  FILE* out = argc < 3 ? nullptr : _wfopen(argv[2], L"w");
  if (!out) return 1;
  std::fprintf(out, "%lu\n", GetCurrentProcessId());
  std::fclose(out);
  Sleep(std::wcstoul(argv[1], nullptr, 10));
  return 0;
}
