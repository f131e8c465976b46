// A fresh folder under the temporary folder for one in-process test, removed with
// everything in it (without following links) when the test ends.
#pragma once

#include <windows.h>

#include <string>

#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/install_transaction.h"

class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* prefix = L"velmora-test") {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    static unsigned counter = 0;
    path_ = JoinPath(temp, std::wstring(prefix) + L"-" + DecimalText(GetCurrentProcessId()) + L"-" +
                               DecimalText(GetTickCount64()) + L"-" + DecimalText(++counter));
    EnsureDirectory(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() { DeleteTree(path_); }
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return JoinPath(path_, name); }

 private:
  std::wstring path_;
};
