#include "setup/engine/install_transaction.h"

#include "setup/core/language.h"

bool InstallPackage(const std::wstring&, const HWND*, std::wstring& message) {
  message = Tr(L"This setup package is incomplete.", L"当前安装包不完整。");
  return false;
}
