// Stand-in for the packaged application: a window titled "Velmora 1.0.1" that stays open
// until it is closed, so that the running-application checks have a real process to find.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MessageBoxW(nullptr, L"Stand-in for the Velmora application.", L"Velmora 1.0.1", MB_OK);
  return 0;
}
