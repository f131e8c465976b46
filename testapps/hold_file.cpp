// Test helper: holds a file open without delete sharing, as a running program or a
// virus scanner would, until the test asks it to let go.
// Usage: hold_file.exe <file> <ready-marker> <release-marker>
// Creates <ready-marker> once the file is open; closes it when <release-marker>
// appears, or after two minutes.
#include <windows.h>
#include <shellapi.h>

namespace {

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args || count != 4) return 2;
  HANDLE held = CreateFileW(args[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = CreateFileW(args[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  for (int waited = 0; waited < 120000 && !Exists(args[3]); waited += 50) Sleep(50);
  CloseHandle(held);
  LocalFree(args);
  return 0;
}
