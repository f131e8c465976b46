// Entry of a test-only build of the setup configuration. Every injectable engine call
// is numbered and written to a trace file; the call numbered VELMORA_KILL_AT ends the
// process on the spot, with no cleanup, as a kill or crash would. Never shipped.
#define wWinMain VelmoraSetupEntry
#include "setup/app/entry.cpp"
#undef wWinMain

#include <cwchar>
#include <string>

#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"

namespace {

constexpr UINT kKilledExitCode = 222;

EngineCalls real;
unsigned long long killAt = 0;  // 0: never
unsigned long long calls = 0;
std::wstring tracePath;
std::wstring lastCreated;  // writes and flushes name the file created last

void AppendTrace(const std::wstring& line) {
  if (tracePath.empty()) return;
  UniqueFile file(CreateFileW(tracePath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::string bytes = WideToUtf8(line + L"\n");
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Numbers the call, traces it and, at the chosen number, ends the process before it runs.
void Reach(const std::wstring& what) {
  ++calls;
  AppendTrace(DecimalText(calls) + L"\t" + what);
  if (calls == killAt) TerminateProcess(GetCurrentProcess(), kKilledExitCode);
}

BOOL WINAPI MoveFileCounted(LPCWSTR from, LPCWSTR to, DWORD flags) {
  Reach(std::wstring(L"rename\t") + from + L"\t" + to);
  return real.moveFile(from, to, flags);
}

BOOL WINAPI RemoveDirectoryCounted(LPCWSTR path) {
  Reach(std::wstring(L"remove folder\t") + path);
  return real.removeDirectory(path);
}

LSTATUS WINAPI SetRegistryValueCounted(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                       DWORD size) {
  Reach(std::wstring(L"registry value\t") + name);
  return real.setRegistryValue(key, name, reserved, type, data, size);
}

HRESULT SaveShortcutCounted(IPersistFile* file, LPCOLESTR path, BOOL remember) {
  Reach(std::wstring(L"save shortcut\t") + path);
  return real.saveShortcut(file, path, remember);
}

BOOL WINAPI WriteFileCounted(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  Reach(L"write\t" + lastCreated);
  return real.writeFile(file, data, size, written, overlapped);
}

BOOL WINAPI FlushFileCounted(HANDLE file) {
  Reach(L"flush\t" + lastCreated);
  return real.flushFile(file);
}

HANDLE WINAPI CreateFileCounted(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile) {
  lastCreated = path;
  Reach(L"create\t" + lastCreated);
  return real.createFile(path, access, share, security, disposition, flags, templateFile);
}

void ArmKillPoints() {
  real = engineCalls;
  killAt = ReadUnsigned64(ReadEnvironmentVariable(L"VELMORA_KILL_AT"), true).value_or(0);
  tracePath = ReadEnvironmentVariable(L"VELMORA_KILL_TRACE");
  engineCalls.moveFile = MoveFileCounted;
  engineCalls.removeDirectory = RemoveDirectoryCounted;
  engineCalls.setRegistryValue = SetRegistryValueCounted;
  engineCalls.saveShortcut = SaveShortcutCounted;
  engineCalls.writeFile = WriteFileCounted;
  engineCalls.flushFile = FlushFileCounted;
  engineCalls.createFile = CreateFileCounted;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE previous, PWSTR commandLine, int show) {
  ArmKillPoints();
  return VelmoraSetupEntry(module, previous, commandLine, show);
}
