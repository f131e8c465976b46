// Benchmark helper, built by scripts/bench-install: runs a program with its arguments,
// samples its private bytes (PagefileUsage, PeakPagefileUsage) every few milliseconds
// until it ends, and prints the highest as "peak_private_bytes N". The counters of an
// ended process are gone under Wine, hence the sampling. Exits with the program's code.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 87;
  std::wstring command;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command += L' ';
    command += L'"';
    command += argv[i];
    command += L'"';
  }
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 86;
  }
  SIZE_T peak = 0;
  do {
    PROCESS_MEMORY_COUNTERS counters = {sizeof(counters)};
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters))) {
      if (counters.PeakPagefileUsage > peak) peak = counters.PeakPagefileUsage;
      if (counters.PagefileUsage > peak) peak = counters.PagefileUsage;
    }
  } while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("peak_private_bytes %llu\n", static_cast<unsigned long long>(peak));
  return int(code);
}
