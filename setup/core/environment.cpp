#include "setup/core/environment.h"

#include <windows.h>

#include <cwchar>

UniqueOwnedMutex AcquireSingleInstanceGuard() {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName);
  DWORD error = GetLastError();
  if (!mutex) return {};
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);  // not ours to release
    return {};
  }
  return UniqueOwnedMutex(mutex);
}

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);

// GetVersionEx would answer what the manifest claims; RtlGetVersion tells the truth.
bool ReadRealVersion(RTL_OSVERSIONINFOW& version) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) return false;
  auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (!rtlGetVersion) return false;
  version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  return rtlGetVersion(&version) == 0;
}

bool IsWindows10OrLater() {
  RTL_OSVERSIONINFOW version;
  return ReadRealVersion(version) && version.dwMajorVersion >= 10;
}

bool IsPreinstallationEnvironment() {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\MiniNT", 0, KEY_READ,
                       key.put()) == ERROR_SUCCESS;
}

bool IsServerWithoutDesktop() {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                    KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t type[128] = {};
  DWORD size = sizeof(type);
  if (RegGetValueW(key.get(), nullptr, L"InstallationType", RRF_RT_REG_SZ, nullptr, type, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  return std::wcsstr(type, L"Core") || std::wcsstr(type, L"Nano");
}

}  // namespace

bool IsSupportedWindows() {
  if (!IsWindows10OrLater()) return false;
  if (IsPreinstallationEnvironment()) return false;
  if (IsServerWithoutDesktop()) return false;
  return GetModuleHandleW(L"user32.dll") != nullptr;
}

std::wstring WindowsVersionText() {
  RTL_OSVERSIONINFOW version;
  if (!ReadRealVersion(version)) return L"unknown";
  std::wstring text = std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) +
                      L"." + std::to_wstring(version.dwBuildNumber);
  DWORD revision = 0;
  DWORD size = sizeof(revision);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR",
                   RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &revision, &size) == ERROR_SUCCESS) {
    text += L"." + std::to_wstring(revision);
  }
  return text;
}

namespace {

template <typename Function>
Function User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

}  // namespace

void SetPerMonitorDpiAwareness() {
  using Setter = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  if (auto set = User32Function<Setter>("SetProcessDpiAwarenessContext")) {
    set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  }
}

unsigned SystemDpi() {
  using Getter = UINT(WINAPI*)();
  auto get = User32Function<Getter>("GetDpiForSystem");
  const UINT dpi = get ? get() : 0;
  return dpi ? dpi : 96;
}
