// Stand-in for the desktop runtime's installer, built once per STANDIN_VARIANT: registers
// runtime 8.0.11 in the 64-bit registry view (except "noregister") and ends with the variant's
// number ("ok" and "noregister": 0). Every start appends its image path and command line to a
// log that tests read.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "setup/core/handles.h"
#include "setup/core/text.h"

constexpr wchar_t kVersionKey[] =
    L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App\\8.0.11";
constexpr wchar_t kLogPath[] = L"C:\\users\\Public\\standin-runtime.log";
// While a test keeps this file, the stand-in keeps running (two minutes at most): the
// setup stays on its Working page for as long as the test needs.
constexpr wchar_t kHoldPath[] = L"C:\\users\\Public\\standin-runtime.hold";

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  wchar_t image[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, image, MAX_PATH * 4);
  std::wstring line = std::wstring(image) + L"|" + GetCommandLineW() + L"|show=" + std::to_wstring(show);
  std::ofstream(std::filesystem::path(kLogPath), std::ios::app | std::ios::binary)
      << WideToUtf8(line + L"\n");
  for (int waited = 0; waited < 1200 && GetFileAttributesW(kHoldPath) != INVALID_FILE_ATTRIBUTES; ++waited) {
    Sleep(100);
  }
  UniqueRegKey key;
  if (std::wstring(STANDIN_VARIANT) != L"noregister" &&
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVersionKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  return _wtoi(STANDIN_VARIANT);
}
