// Program entry of both configurations; VELMORA_MAINTENANCE selects which.
#include <windows.h>

#include "setup/core/dispatch.h"
#include "setup/core/environment.h"
#include "setup/core/handles.h"

#ifndef VELMORA_MAINTENANCE
#error "build with VELMORA_MAINTENANCE=0 (setup) or 1 (maintenance)"
#endif

int WINAPI wWinMain(HINSTANCE module, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: this program may run elevated from a folder that
  // standard users can write to, so DLLs come from System32 only.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  UniqueOwnedMutex guard = AcquireSingleInstanceGuard();
  if (!guard) return kExitAnotherInstance;
  int code;
  {
    ComApartment com(COINIT_APARTMENTTHREADED);
    if (!com.ok()) return kExitNoComOrWindow;
    ArgumentList arguments = ReadArgumentList();
    code = DispatchMode(arguments, DispatchConfiguration{VELMORA_MAINTENANCE != 0, module});
  }
  return code;
}
