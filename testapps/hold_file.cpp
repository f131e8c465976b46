// Holds a file open without delete sharing, as a running program or a virus scanner
// would: hold_file.exe <file> <ready-marker> <release-marker>. Creates the ready marker
// once the file is open; lets go when the release marker appears, or after two minutes.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args || count != 4) return 2;
  HANDLE held = CreateFileW(args[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(CreateFileW(args[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  for (int waited = 0; waited < 120000 && GetFileAttributesW(args[3]) == INVALID_FILE_ATTRIBUTES; waited += 50) {
    Sleep(50);
  }
  CloseHandle(held);
  return 0;
}
