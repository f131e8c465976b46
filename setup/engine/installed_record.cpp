#include "setup/engine/installed_record.h"

bool WriteUtf8TextFile(const std::wstring&, const std::wstring&) { return false; }
