#include "setup/core/switches.h"

#include <windows.h>
#include <shellapi.h>

#include "setup/core/handles.h"
#include "setup/core/text.h"

ArgumentList ReadArgumentList() {
  int count = 0;
  LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!raw) return {};
  UniqueLocalMemory owner(raw);
  ArgumentList arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(raw[i]);
  return arguments;
}

bool HasSwitch(const ArgumentList& arguments, const wchar_t* name) {
  for (const auto& argument : arguments) {
    if (EqualsIgnoreAsciiCase(argument, name)) return true;
  }
  return false;
}

std::wstring FindSwitchValue(const ArgumentList& arguments, const wchar_t* name) {
  for (size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (EqualsIgnoreAsciiCase(arguments[i], name)) return arguments[i + 1];
  }
  return {};
}
