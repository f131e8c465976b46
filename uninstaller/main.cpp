// Uninstall.exe: copies Velmora.Maintenance.exe from its own folder into the installer
// temporary folder and starts that copy, elevated, in uninstall mode; then ends.
// It links only the kernel, security and shell libraries and shares no compiled code
// with the setup program (only the header-only temporary-folder protection).
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "setup/core/protected_folder.h"

namespace {

enum LauncherExit : int {
  kStarted = 0,
  kNoSetupProgram = 2,
  kNoTemporaryFolder = 3,
  kCopyFailed = 4,
  kStartFailed = 5,
};

std::wstring OwnProgramPath() {
  std::vector<wchar_t> buffer(260);
  while (true) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size() - 1) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring FolderOf(const std::wstring& path) {
  size_t last = path.find_last_of(L"\\/");
  return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

std::wstring Join(const std::wstring& first, const std::wstring& second) {
  if (first.empty()) return second;
  if (first.back() == L'\\' || first.back() == L'/') return first + second;
  return first + L'\\' + second;
}

std::wstring TemporaryFolder() {
  std::vector<wchar_t> buffer(32768, L'\0');
  DWORD length = GetEnvironmentVariableW(L"ProgramData", buffer.data(), DWORD(buffer.size()));
  std::wstring base = (length == 0 || length >= buffer.size()) ? L"C:\\ProgramData"
                                                                : std::wstring(buffer.data(), length);
  return Join(base, L"Velmora\\installer-temp");
}

bool IsToken(const wchar_t* token, const wchar_t* expected) {
  for (; *token && *expected; ++token, ++expected) {
    wchar_t c = (*token >= L'A' && *token <= L'Z') ? wchar_t(*token - L'A' + L'a') : *token;
    if (c != *expected) return false;
  }
  return *token == L'\0' && *expected == L'\0';
}

struct LauncherSwitches {
  bool quiet = false;
  std::wstring log;  // the "/log" value, as given
};

LauncherSwitches ReadSwitches() {
  LauncherSwitches switches;
  int count = 0;
  LPWSTR* tokens = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!tokens) return switches;
  for (int i = 1; i < count; ++i) {
    switches.quiet = switches.quiet || IsToken(tokens[i], L"/quiet");
    if (switches.log.empty() && i + 1 < count && IsToken(tokens[i], L"/log")) switches.log = tokens[i + 1];
  }
  LocalFree(tokens);
  return switches;
}

// The copy runs in another folder: a relative log path is made full here. A path that
// cannot be quoted as it stands is dropped; the copy would ignore it anyway.
std::wstring LogArgument(const std::wstring& given) {
  if (given.empty() || given.find(L'"') != std::wstring::npos) return {};
  wchar_t full[32768] = {};
  DWORD length = GetFullPathNameW(given.c_str(), 32768, full, nullptr);
  if (length == 0 || length >= 32768 || full[length - 1] == L'\\') return {};
  return L" /log \"" + std::wstring(full, length) + L"\"";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // It runs elevated; DLLs come from System32 only, never from its own folder.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const std::wstring ownFolder = FolderOf(OwnProgramPath());
  const std::wstring setupProgram = Join(ownFolder, L"Velmora.Maintenance.exe");
  if (GetFileAttributesW(setupProgram.c_str()) == INVALID_FILE_ATTRIBUTES) return kNoSetupProgram;

  const std::wstring temporaryFolder = TemporaryFolder();
  HeldInstallerTemp held;  // until the copy has started
  if (!HoldProtectedInstallerTemp(temporaryFolder, held)) return kNoTemporaryFolder;

  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  const std::wstring copy =
      Join(temporaryFolder, L"Maintenance-" + pid + L"-" + std::to_wstring(GetTickCount64()) + L".exe");
  // A file already there under the fresh name was put there by someone else: never reused.
  if (!CopyFileW(setupProgram.c_str(), copy.c_str(), TRUE)) return kCopyFailed;

  const LauncherSwitches switches = ReadSwitches();
  const bool quiet = switches.quiet;
  std::wstring parameters = L"/uninstall /install-dir \"" + ownFolder + L"\" /wait-pid " + pid;
  if (quiet) parameters += L" /quiet";
  parameters += LogArgument(switches.log);

  SHELLEXECUTEINFOW start = {};
  start.cbSize = sizeof(start);
  // No shell error box: a launcher that cannot start its copy ends with 5 at once, and
  // a quiet one shows nothing at all. NOASYNC: this program ends right after the call.
  start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  start.lpVerb = L"runas";
  start.lpFile = copy.c_str();
  start.lpParameters = parameters.c_str();
  start.lpDirectory = temporaryFolder.c_str();
  start.nShow = quiet ? SW_HIDE : SW_SHOWNORMAL;
  if (!ShellExecuteExW(&start)) return kStartFailed;
  if (start.hProcess) CloseHandle(start.hProcess);
  return kStarted;
}
