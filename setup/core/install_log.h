// The administrator's log ("/log <file>"): one UTF-8 line per event, appended, stamped
// with the local time and the process id. Without an open log every call does nothing,
// and a log that cannot be opened or written never changes what the program does.
#pragma once

#include <windows.h>

#include <concepts>
#include <string>
#include <string_view>

// A Win32 error code or an HRESULT, written as its number and the system's text.
struct SystemError {
  DWORD code;
};

// Opens the file for appending; an empty or unusable path leaves logging off. The path
// is resolved against the current folder; device names are refused.
void OpenInstallLog(const std::wstring& path);
bool IsInstallLogOpen();
// ' /log "<full path>"' for the command line of a process that should log too, or empty.
std::wstring LogSwitchArgument();

// One event; every control character in it is written escaped, so that a path or a
// server's text cannot start a line of its own. Keeps the thread's last error.
void WriteLogLine(std::wstring_view text);
// "error 5: Access is denied." (HRESULTs in hexadecimal).
std::wstring SystemErrorText(DWORD code);
// The text as it goes into a line: control characters as "<U+000A>".
std::wstring EscapeLogText(std::wstring_view text);

inline void AppendLogPart(std::wstring& line, std::wstring_view text) { line += text; }
inline void AppendLogPart(std::wstring& line, SystemError error) { line += SystemErrorText(error.code); }
template <std::integral Number>
  requires(!std::same_as<Number, bool> && !std::same_as<Number, wchar_t>)
void AppendLogPart(std::wstring& line, Number number) {
  line += std::to_wstring(number);
}

// The parts are put together only when a log is open.
template <typename... Parts>
void LogEvent(const Parts&... parts) {
  if (!IsInstallLogOpen()) return;
  std::wstring line;
  (AppendLogPart(line, parts), ...);
  WriteLogLine(line);
}
