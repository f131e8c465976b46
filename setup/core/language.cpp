#include "setup/core/language.h"

#include <windows.h>

#include <cwchar>

bool LocaleSelectsEnglish(const wchar_t* localeName, int result) {
  if (result <= 0) return false;
  return _wcsnicmp(localeName, L"zh", 2) != 0;
}

namespace {

bool ChooseInitialLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  int result = GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  return LocaleSelectsEnglish(name, result);
}

}  // namespace

std::atomic<bool> UseEnglish{ChooseInitialLanguage()};

const wchar_t* Tr(const BilingualText& text) { return UseEnglish ? text.english : text.chinese; }

const wchar_t* Tr(const wchar_t* english, const wchar_t* chinese) { return UseEnglish ? english : chinese; }
