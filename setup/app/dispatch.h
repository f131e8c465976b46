// Mode selection of the setup program: the uninstall worker, the uninstall mode and
// the install mode, each ending in the process exit code.
#pragma once

#include <windows.h>

#include "setup/core/switches.h"

enum ExitCode : int {
  kExitDone = 0,
  kExitWindowClosed = 1,
  kExitRefused = 2,
  kExitIncomplete = 3,
  kExitNoComOrWindow = 4,
  kExitAnotherInstance = 5,
  kExitUnsupportedWindows = 6,
  kExitNoUninstallSwitch = 87,
};

struct DispatchConfiguration {
  bool maintenance = false;  // the copy in the installation folder: uninstall modes only
  HINSTANCE module = nullptr;
};

int DispatchMode(const ArgumentList& arguments, const DispatchConfiguration& configuration);
// Waits up to two minutes for the "/wait-pid" process; true when there is none.
bool WaitForStarter(const ArgumentList& arguments);
// The first lines of a log: version and configuration, command line, Windows and language.
void LogProgramStart(bool maintenance);
