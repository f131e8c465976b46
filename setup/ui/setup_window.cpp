#include "setup/ui/setup_window.h"

int RunSetupWindow(const WindowStartState&, HINSTANCE) { return 4; }
