// Program entry of both configurations; VELMORA_MAINTENANCE selects which.
#include <windows.h>
#include <delayimp.h>

#include "setup/app/dispatch.h"
#include "setup/core/environment.h"
#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/uninstall/uninstall_flow.h"

#ifndef VELMORA_MAINTENANCE
#error "build with VELMORA_MAINTENANCE=0 (setup) or 1 (maintenance)"
#endif

namespace {

// Stand-ins for a delay-loaded function that cannot be bound (its DLL missing or too
// old): each reports failure the way its family does, so that the caller takes its
// failure path (a dialog then behaves as if closed) instead of the program ending
// with the helper's exception.
LONG_PTR WINAPI FailAsHresult() { return E_FAIL; }
LONG_PTR WINAPI FailAsNtStatus() { return LONG(0xC0000001); }  // STATUS_UNSUCCESSFUL
LONG_PTR WINAPI FailAsNoHandle() {                             // handles and BOOLs
  SetLastError(ERROR_PROC_NOT_FOUND);
  return 0;
}

FARPROC WINAPI DelayLoadFailed(unsigned notification, PDelayLoadInfo info) {
  // A module that exports nothing: every function of the missing DLL then comes back
  // here as one that cannot be found.
  if (notification == dliFailLoadLib) return reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
  if (notification != dliFailGetProc) return nullptr;
  if (lstrcmpiA(info->szDll, "bcrypt.dll") == 0) return reinterpret_cast<FARPROC>(FailAsNtStatus);
  if (lstrcmpiA(info->szDll, "winhttp.dll") == 0) return reinterpret_cast<FARPROC>(FailAsNoHandle);
  return reinterpret_cast<FARPROC>(FailAsHresult);  // d2d1, dwrite, dwmapi, windowscodecs, comctl32
}

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

int RunProgram(HINSTANCE module, const ArgumentList& arguments) {
  UniqueOwnedMutex guard = AcquireGuard(HasSwitch(arguments, kUninstallWorkerSwitch));
  if (!guard) return kExitAnotherInstance;
  ComApartment com(COINIT_APARTMENTTHREADED);
  if (!com.ok()) return kExitNoComOrWindow;
  return DispatchMode(arguments, DispatchConfiguration{VELMORA_MAINTENANCE != 0, module});
}

}  // namespace

PfnDliHook __pfnDliFailureHook2 = DelayLoadFailed;  // declared extern "C" by delayimp.h

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: this program may run elevated from a folder that
  // standard users can write to, so DLLs come from System32 only.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetPerMonitorDpiAwareness();
  // A temporary copy goes at the next restart whatever its outcome; first, so that no
  // early end can skip it and the result is shown only once it is done.
  ScheduleOwnDeletionIfTemporary();
  ArgumentList arguments = ReadArgumentList();
  OpenInstallLog(FindSwitchValue(arguments, kLogSwitch));
  LogProgramStart(VELMORA_MAINTENANCE != 0);
  const int code = RunProgram(module, arguments);
  LogEvent(L"exit code ", code);
  return code;
}
