// Stand-in for the desktop runtime's installer. Started with exactly
// "/install /quiet /norestart" it registers runtime 8.0.11 in the 64-bit registry
// view (unless built with STANDIN_REGISTER=0) and ends with STANDIN_EXIT_CODE.
// Every start appends its image path and command line to a log that tests read.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "setup/core/handles.h"

#ifndef STANDIN_EXIT_CODE
#define STANDIN_EXIT_CODE 0
#endif
#ifndef STANDIN_REGISTER
#define STANDIN_REGISTER 1
#endif

namespace {

constexpr wchar_t kVersionKey[] =
    L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App\\8.0.11";
constexpr wchar_t kLogPath[] = L"C:\\users\\Public\\standin-runtime.log";
// While a test keeps this file, the stand-in keeps running (two minutes at most): the
// setup stays on its Working page for as long as the test needs.
constexpr wchar_t kHoldPath[] = L"C:\\users\\Public\\standin-runtime.hold";
constexpr int kWrongArguments = 87;

void AppendToLog(const std::wstring& line) {
  UniqueFile log(CreateFileW(kLogPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return;
  int length = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size_t(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), bytes.data(), length, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(log.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH * 4] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  return std::wstring(path, length);
}

bool HasExpectedArguments() {
  int count = 0;
  UniqueLocalMemory owner(CommandLineToArgvW(GetCommandLineW(), &count));
  auto arguments = static_cast<wchar_t**>(owner.get());
  return arguments && count == 4 && lstrcmpW(arguments[1], L"/install") == 0 &&
         lstrcmpW(arguments[2], L"/quiet") == 0 && lstrcmpW(arguments[3], L"/norestart") == 0;
}

bool RegisterRuntime() {
  UniqueRegKey key;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVersionKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                         key.put(), nullptr) == ERROR_SUCCESS;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  AppendToLog(ModulePath() + L"|" + GetCommandLineW() + L"|show=" + std::to_wstring(show) + L"\n");
  if (!HasExpectedArguments()) return kWrongArguments;
  for (int waited = 0; waited < 1200 && GetFileAttributesW(kHoldPath) != INVALID_FILE_ATTRIBUTES; ++waited) Sleep(100);
  if (STANDIN_REGISTER && !RegisterRuntime()) return 1;
  return STANDIN_EXIT_CODE;
}
