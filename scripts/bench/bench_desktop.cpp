// The interactive desktop a Windows session always has. Wine makes it for the first
// program that needs it and closes it about a second after the last one ends, so a
// benchmark that restarts the Wine server would charge its creation (starting Wine's
// explorer) to whichever program comes first: `hold` keeps it for the whole run.
// Without an argument: only what every program of ours pays before its work, user32
// loaded and a single-threaded COM apartment. Usage: desktop.exe [hold]
#include <windows.h>
#include <objbase.h>

int wmain(int argc, wchar_t**) {
  if (!GetDesktopWindow()) return 1;
  if (argc > 1) Sleep(INFINITE);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  CoUninitialize();
  return 0;
}
