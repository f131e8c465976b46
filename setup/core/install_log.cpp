#include "setup/core/install_log.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "setup/core/handles.h"
#include "setup/core/text.h"

namespace {

// Opened once on the main thread before any other thread exists; written from the
// main thread and the install worker.
UniqueFile logFile;
std::wstring logPath;
SRWLOCK writeLock = SRWLOCK_INIT;

bool HasForbiddenCharacter(const std::wstring& path) {
  for (wchar_t c : path) {
    if (c < 0x20 || c == 0x7F || std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos) return true;
  }
  return false;
}

std::wstring FullPathOf(const std::wstring& path) {
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::vector<wchar_t> buffer(needed, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
  if (length == 0 || length >= needed) return {};
  return std::wstring(buffer.data(), length);
}

// Append-only access makes every line one atomic append, also when the launcher's copy
// and its own hand-off write to the same file. A link is refused: the program runs
// elevated, and a standard user could plant one where an administrator points the log.
UniqueFile OpenForAppending(const std::wstring& fullPath) {
  UniqueFile file(CreateFileW(fullPath.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return file;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    return UniqueFile();
  }
  return file;
}

bool IsEscaped(wchar_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// ISO 8601 local time with its offset: 2026-12-07T09:30:05.123+08:00.
std::wstring LocalTimestamp() {
  SYSTEMTIME utc = {};
  SYSTEMTIME local = {};
  GetSystemTime(&utc);
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  FILETIME utcTime = {};
  FILETIME localTime = {};
  SystemTimeToFileTime(&utc, &utcTime);
  SystemTimeToFileTime(&local, &localTime);
  auto ticks = [](const FILETIME& t) { return (std::int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  std::int64_t minutes = (ticks(localTime) - ticks(utcTime)) / 600000000;
  wchar_t sign = minutes < 0 ? L'-' : L'+';
  if (minutes < 0) minutes = -minutes;
  wchar_t text[64] = {};
  swprintf(text, 64, L"%04u-%02u-%02uT%02u:%02u:%02u.%03u%lc%02d:%02d", local.wYear, local.wMonth, local.wDay,
           local.wHour, local.wMinute, local.wSecond, local.wMilliseconds, sign, int(minutes / 60),
           int(minutes % 60));
  return text;
}

}  // namespace

void OpenInstallLog(const std::wstring& path) {
  if (path.empty() || HasForbiddenCharacter(path)) return;
  std::wstring full = FullPathOf(path);
  if (full.empty() || StartsWithIgnoreAsciiCase(full, L"\\\\.\\") || StartsWithIgnoreAsciiCase(full, L"\\\\?\\") ||
      full.back() == L'\\') {
    return;
  }
  UniqueFile file = OpenForAppending(full);
  if (!file) return;
  logFile = std::move(file);
  logPath = full;
}

bool IsInstallLogOpen() { return static_cast<bool>(logFile); }

// The path holds no quotation mark and does not end in a backslash (both refused above),
// so plain quotes read back unchanged.
std::wstring LogSwitchArgument() { return logPath.empty() ? std::wstring() : L" /log \"" + logPath + L"\""; }

std::wstring EscapeLogText(std::wstring_view text) {
  std::wstring escaped;
  escaped.reserve(text.size());
  for (wchar_t c : text) {
    if (!IsEscaped(c)) {
      escaped += c;
      continue;
    }
    wchar_t code[16] = {};
    swprintf(code, 16, L"<U+%04X>", unsigned(c));
    escaped += code;
  }
  return escaped;
}

void WriteLogLine(std::wstring_view text) {
  if (!logFile) return;
  const DWORD savedError = GetLastError();
  std::wstring line = LocalTimestamp() + L" [" + DecimalText(GetCurrentProcessId()) + L"] " + EscapeLogText(text);
  std::string bytes = WideToUtf8(line) + "\r\n";
  AcquireSRWLockExclusive(&writeLock);
  DWORD written = 0;
  WriteFile(logFile.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
  ReleaseSRWLockExclusive(&writeLock);
  SetLastError(savedError);
}

std::wstring SystemErrorText(DWORD code) {
  const DWORD savedError = GetLastError();
  // WinHTTP's codes are described by its own module, not by the system's table.
  HMODULE winhttp = (code >= 12000 && code < 13000) ? GetModuleHandleW(L"winhttp.dll") : nullptr;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                (winhttp ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
  wchar_t* raw = nullptr;
  DWORD length = FormatMessageW(flags, winhttp, code, 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  UniqueLocalMemory owner(raw);
  std::wstring description = (length && raw) ? std::wstring(raw, length) : std::wstring();
  while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r' ||
                                  description.back() == L' ')) {
    description.pop_back();
  }
  wchar_t number[32] = {};
  if (code >= 0x10000) {
    swprintf(number, 32, L"0x%08X", unsigned(code));
  } else {
    swprintf(number, 32, L"%u", unsigned(code));
  }
  SetLastError(savedError);
  return L"error " + std::wstring(number) + (description.empty() ? L"" : L": " + description);
}
