// The two guards at the start of every run: one instance per logon session, and
// only Windows 10 or later with the desktop.
#pragma once

#include <string>

#include "setup/core/handles.h"

inline constexpr wchar_t kSingleInstanceMutexName[] = L"Local\\Velmora.NativeInstaller.SingleInstance";

// An owned mutex, or an empty owner when another instance holds it or it cannot be made.
UniqueOwnedMutex AcquireSingleInstanceGuard();
bool IsSupportedWindows();

// "10.0.19045.3803": RtlGetVersion's numbers and the update revision, for the log.
std::wstring WindowsVersionText();
// DPI calls that Windows 10 before 1607 (GetDpiForSystem) and 1703
// (SetProcessDpiAwarenessContext) lacks, looked up at run time: a static import of either
// would keep the program from starting there. Missing, the first does nothing and the
// second reports 96.
void SetPerMonitorDpiAwareness();
unsigned SystemDpi();
