// Prints what a visible dialog of another process says, for tests that must read a
// dialog before they answer it: one line per child window with text, in UTF-8.
//   dialog_text [title]   exit 0 printed, 3 no visible window with that title
// Without a title it looks for the product's dialogs, "Velmora" or "岫澜". Under Wine a
// task dialog is made of plain controls; Windows draws one without child windows.
#include <windows.h>

#include <string>

namespace {

void Print(const std::wstring& text) {
  std::string bytes(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), int(bytes.size()), nullptr, nullptr);
  bytes += '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

std::wstring TextOf(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), int(text.size())));
  return text;
}

struct Search {
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (!IsWindowVisible(window)) return TRUE;
  std::wstring text = TextOf(window);
  bool match = search->title ? text == search->title : (text == L"Velmora" || text == L"岫澜");
  if (match) search->found = window;
  return !match;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  std::wstring text = TextOf(child);
  if (!text.empty()) Print(text);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Search search{argc > 1 ? argv[1] : nullptr, nullptr};
  EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return 3;
  EnumChildWindows(search.found, PrintChild, 0);
  return 0;
}
