#include "setup/engine/running_app.h"

bool IsApplicationRunning(const std::wstring&) { return true; }
void RemoveUpdateCache() {}
