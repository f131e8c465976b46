// The least an uninstall can do under Wine, as a floor for the benchmark: read the
// installed-files record, delete every listed file, then the folders deepest first.
// No checks, no attributes, no registry. Usage: floor.exe <folder>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  std::wstring root = argv[1];
  HANDLE file = CreateFileW((root + L"\\.install-manifest").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
  CloseHandle(file);
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), text.data(), int(text.size())));
  std::vector<std::wstring> folders;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    size_t first = line.find(L'\t');
    size_t second = line.find(L'\t', first + 1);
    std::wstring path = root + L"\\" + line.substr(first + 1, second - first - 1);
    DeleteFileW(path.c_str());
    for (size_t cut = path.rfind(L'\\'); cut > root.size(); cut = path.rfind(L'\\', cut - 1)) {
      folders.push_back(path.substr(0, cut));
    }
  }
  std::sort(folders.begin(), folders.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() != b.size() ? a.size() > b.size() : a < b; });
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const auto& folder : folders) RemoveDirectoryW(folder.c_str());
  DeleteFileW((root + L"\\.install-manifest").c_str());
  RemoveDirectoryW(root.c_str());
  return 0;
}
