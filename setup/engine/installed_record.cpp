#include "setup/engine/installed_record.h"

#include <windows.h>

#include <climits>

#include "setup/core/handles.h"
#include "setup/engine/fault_injection.h"

bool WriteUtf8TextFile(const std::wstring& path, const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return false;
  const int wideLength = static_cast<int>(text.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length < 1) return false;
  std::string bytes(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, bytes.data(), length, nullptr, nullptr) != length) {
    return false;
  }
  UniqueFile file(
      engineCalls.createFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (!engineCalls.writeFile(file.get(), bytes.data(), static_cast<DWORD>(length), &written, nullptr)) return false;
  return written == static_cast<DWORD>(length) && engineCalls.flushFile(file.get());
}
