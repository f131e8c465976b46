// Mode selection of the setup program: the uninstall worker, the uninstall mode and
// the install mode, each ending in the process exit code.
#pragma once

#include <windows.h>

#include "setup/core/handles.h"
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
// The "/wait-pid" process, opened as soon as the mode starts: an id is handed to a new
// process once its own has ended and no handle holds it, so opening it only after the
// user has read a dialog could wait for an unrelated program.
struct Starter {
  bool valid = true;      // false: a bad value, or a process that cannot be opened
  UniqueHandle process;   // empty: nothing to wait for
};
Starter OpenStarter(const ArgumentList& arguments);
// Waits up to two minutes for the starter to end; true when there is none.
bool WaitForStarter(const Starter& starter);
// The first lines of a log: version and configuration, command line, Windows and language.
void LogProgramStart(bool maintenance);
