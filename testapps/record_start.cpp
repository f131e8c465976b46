// Test helper that stands in for a program another program starts: it appends one line
// to the file named by VELMORA_START_RECORD telling how it was started, then ends.
// Line: <own path> TAB <command line> TAB <show state or -> TAB <current folder>
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size_t(length > 0 ? length : 0), '\0');
  if (length > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), length, nullptr, nullptr);
  return bytes;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t record[32768] = {};
  DWORD length = GetEnvironmentVariableW(L"VELMORA_START_RECORD", record, 32768);
  if (length == 0 || length >= 32768) return 1;
  wchar_t own[32768] = {};
  GetModuleFileNameW(nullptr, own, 32768);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  std::wstring show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_wstring(startup.wShowWindow) : L"-";
  wchar_t folder[32768] = {};
  GetCurrentDirectoryW(32768, folder);
  std::string line =
      Utf8(std::wstring(own) + L"\t" + GetCommandLineW() + L"\t" + show + L"\t" + folder) + "\n";
  HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
