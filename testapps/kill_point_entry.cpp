// Entry of a test-only build of the setup configuration. Every injectable engine call
// is written to a trace file, one line each; the call numbered VELMORA_KILL_AT ends the
// process on the spot, with no cleanup, as a kill or crash would. Never shipped.
#define wWinMain VelmoraSetupEntry
#include "setup/app/entry.cpp"
#undef wWinMain

#include <string>

#include "setup/core/text.h"
#include "setup/engine/fault_injection.h"

namespace {

constexpr UINT kKilledExitCode = 222;

const EngineCalls real = RealEngineCalls();
unsigned long long killAt = 0;  // 0: never
unsigned long long calls = 0;
UniqueFile trace;
std::wstring lastCreated;  // writes and flushes name the file created last

// Traces the call and, at the chosen number, ends the process before it runs; else hands out
// the real calls to make it.
const EngineCalls& Reach(const std::wstring& what) {
  const std::string line = WideToUtf8(what + L"\n");
  DWORD written = 0;
  if (trace) WriteFile(trace.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  if (++calls == killAt) TerminateProcess(GetCurrentProcess(), kKilledExitCode);
  return real;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE previous, PWSTR commandLine, int show) {
  killAt = ReadUnsigned64(ReadEnvironmentVariable(L"VELMORA_KILL_AT"), true).value_or(0);
  trace.reset(CreateFileW(ReadEnvironmentVariable(L"VELMORA_KILL_TRACE").c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  engineCalls.moveFile = [](LPCWSTR from, LPCWSTR to, DWORD flags) {
    return Reach(std::wstring(L"rename\t") + from + L"\t" + to).moveFile(from, to, flags);
  };
  engineCalls.removeDirectory = [](LPCWSTR path) {
    return Reach(std::wstring(L"remove folder\t") + path).removeDirectory(path);
  };
  engineCalls.setRegistryValue = [](HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size) {
    return Reach(std::wstring(L"registry value\t") + name).setRegistryValue(key, name, reserved, type, data, size);
  };
  engineCalls.saveShortcut = [](IPersistFile* file, LPCOLESTR path, BOOL remember) {
    return Reach(std::wstring(L"save shortcut\t") + path).saveShortcut(file, path, remember);
  };
  engineCalls.writeFile = [](HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    return Reach(L"write\t" + lastCreated).writeFile(file, data, size, written, overlapped);
  };
  engineCalls.flushFile = [](HANDLE file) { return Reach(L"flush\t" + lastCreated).flushFile(file); };
  engineCalls.createFile = [](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
    lastCreated = path;
    return Reach(L"create\t" + lastCreated).createFile(path, access, share, security, disposition, flags,
                                                        templateFile);
  };
  return VelmoraSetupEntry(module, previous, commandLine, show);
}
