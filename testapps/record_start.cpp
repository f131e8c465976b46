// Stands in for a program another program starts: appends one line (UTF-16) to the file
// named by VELMORA_START_RECORD telling how it was started, then ends.
// Line: <own path> TAB <command line> TAB <show state or -> TAB <current folder>
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t record[MAX_PATH] = {}, own[32768] = {}, folder[32768] = {};
  if (!GetEnvironmentVariableW(L"VELMORA_START_RECORD", record, MAX_PATH)) return 1;
  GetModuleFileNameW(nullptr, own, 32768);
  GetCurrentDirectoryW(32768, folder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  std::wstring show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_wstring(startup.wShowWindow) : L"-";
  std::wstring line = std::wstring(own) + L"\t" + GetCommandLineW() + L"\t" + show + L"\t" + folder + L"\n";
  HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, line.data(), DWORD(line.size() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
  return 0;
}
