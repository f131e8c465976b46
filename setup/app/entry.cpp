// Program entry of both configurations; VELMORA_MAINTENANCE selects which.
#include <windows.h>

#include "setup/app/dispatch.h"
#include "setup/core/environment.h"
#include "setup/core/handles.h"
#include "setup/uninstall/uninstall_flow.h"

#ifndef VELMORA_MAINTENANCE
#error "build with VELMORA_MAINTENANCE=0 (setup) or 1 (maintenance)"
#endif

namespace {

constexpr DWORD kGuardRetryMilliseconds = 100;
constexpr int kGuardRetries = 100;  // 10 s in all

// A worker copy is started by a program that still holds the guard and releases it as
// its last act; only the worker waits for it, every other mode ends at once.
UniqueOwnedMutex AcquireGuard(bool worker) {
  UniqueOwnedMutex guard = AcquireSingleInstanceGuard();
  for (int retry = 0; !guard && worker && retry < kGuardRetries; ++retry) {
    Sleep(kGuardRetryMilliseconds);
    guard = AcquireSingleInstanceGuard();
  }
  return guard;
}

int Run(HINSTANCE module) {
  ArgumentList arguments = ReadArgumentList();
  UniqueOwnedMutex guard = AcquireGuard(HasSwitch(arguments, kUninstallWorkerSwitch));
  if (!guard) return kExitAnotherInstance;
  int code;
  {
    ComApartment com(COINIT_APARTMENTTHREADED);
    if (!com.ok()) return kExitNoComOrWindow;
    code = DispatchMode(arguments, DispatchConfiguration{VELMORA_MAINTENANCE != 0, module});
  }
  return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: this program may run elevated from a folder that
  // standard users can write to, so DLLs come from System32 only.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  // A temporary copy goes at the next restart whatever its outcome; first, so that no
  // early end can skip it and the result is shown only once it is done.
  ScheduleOwnDeletionIfTemporary();
  return Run(module);
}
