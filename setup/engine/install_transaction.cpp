#include "setup/engine/install_transaction.h"

#include "setup/core/language.h"

bool InstallPackage(const std::wstring&, const HWND*, std::wstring& message) {
  message = Tr(L"This setup package is incomplete.", L"当前安装包不完整。");
  return false;
}

std::wstring MakeWorkFolderPath(const std::wstring& folder, const wchar_t*) { return folder; }
bool DeleteTree(const std::wstring&) { return false; }
