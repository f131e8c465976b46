// Stands in for a program another program starts: appends one line (UTF-16) to the file
// named by VELMORA_START_RECORD telling how it was started, then ends.
// Line: <own path> TAB <command line> TAB <show state or -> TAB <current folder>
#include <windows.h>

#include <filesystem>
#include <fstream>
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
  std::ofstream(std::filesystem::path(record), std::ios::app | std::ios::binary)
      .write(reinterpret_cast<const char*>(line.data()), std::streamsize(line.size() * sizeof(wchar_t)));
  return 0;
}
