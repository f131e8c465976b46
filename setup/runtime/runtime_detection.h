// Whether Microsoft's x64 Windows Desktop runtime of major version 8 is present,
// judged from its registry entries and then from its folder.
#pragma once

#include <string>

// A version name such as "8.0.11": its leading number, read as wcstoul reads it, is
// 8 and a full stop follows directly. A negative number never counts.
bool IsQualifyingVersionName(const std::wstring& name);

bool IsDesktopRuntimeInstalled();
