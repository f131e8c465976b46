// The custom-drawn setup window: state machine, worker thread and message loop.
#pragma once

#include <windows.h>

#include <string>

struct WindowStartState {
  std::wstring installFolder;
  bool isUpdate = false;
  bool isRepair = false;
};

// Runs the window until it closes; its exit code, or 4 when it cannot be created.
int RunSetupWindow(const WindowStartState& start, HINSTANCE module);
