// The process-wide language: English or Simplified Chinese, chosen from the user's
// locale before the entry runs and switched only by the setup window.
#pragma once

#include <atomic>

struct BilingualText {
  const wchar_t* english;
  const wchar_t* chinese;
};

// Written on the main thread only; the install worker reads it while composing texts.
extern std::atomic<bool> UseEnglish;

const wchar_t* Tr(const BilingualText& text);
const wchar_t* Tr(const wchar_t* english, const wchar_t* chinese);

// Every "zh" locale (any case) selects Chinese; an unreadable locale too.
bool LocaleSelectsEnglish(const wchar_t* localeName, int result);

inline constexpr BilingualText kProductName{L"Velmora", L"岫澜"};
