// A deterministic mutation fuzzer for the in-process tests: fixed seeds, a fixed count
// of inputs (VELMORA_FUZZ_INPUTS, a short slice by default) and a printed summary.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// xorshift64*: the same sequence on every run and machine.
struct FuzzRandom {
  std::uint64_t state;
  std::uint64_t Next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ULL;
  }
  std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : std::size_t(Next() % bound); }
  // Characters on the parsers' boundaries, a few far from ASCII, and sometimes a NUL.
  wchar_t Character() {
    static const wchar_t kCharacters[] = L"\t\r\n \\/.:0123456789+-abcfgABCFZ<>\"|?*\x01\x1f\x7f\xa0\x3000\xfeff"
                                         L"\xd800\xdc00\xffff\x5cb3";
    if (Below(16) == 0) return wchar_t(0);
    return kCharacters[Below(sizeof(kCharacters) / sizeof(wchar_t) - 1)];
  }
};

// One to four edits of a seed: replace, insert, delete, duplicate or splice a range.
inline std::wstring Mutate(const std::vector<std::wstring>& seeds, FuzzRandom& random) {
  std::wstring text = seeds[random.Below(seeds.size())];
  for (std::size_t edits = 1 + random.Below(4); edits > 0; --edits) {
    std::size_t at = random.Below(text.size() + 1);
    const std::size_t kind = random.Below(6);
    if (kind == 1) {
      text.insert(at, 1, random.Character());
    } else if (kind == 2) {
      text.erase(at, 1 + random.Below(8));
    } else if (kind == 4) {
      const std::wstring& other = seeds[random.Below(seeds.size())];
      std::size_t from = random.Below(other.size() + 1);
      text.insert(at, other.substr(from, random.Below(64)));
    } else if (at < text.size() && kind == 3) {
      text.insert(at, text.substr(at, 1 + random.Below(32)));
    } else if (at < text.size()) {
      text[at] = kind == 0 ? random.Character() : wchar_t(L'0' + random.Below(10));
    }
  }
  return text;
}

// Feeds count mutated seeds to body(text, index), which checks one input and returns
// whether the parser accepted it; stops at the first failed check.
template <typename Body>
void RunFuzz(const char* target, const std::vector<std::wstring>& seeds, std::uint64_t seed, std::uint64_t slice,
             Body body) {
  const wchar_t* asked = _wgetenv(L"VELMORA_FUZZ_INPUTS");
  const std::uint64_t count = asked && wcstoull(asked, nullptr, 10) ? wcstoull(asked, nullptr, 10) : slice;
  FuzzRandom random{seed};
  unsigned long long inputs = 0, accepted = 0;  // as printed
  const ULONGLONG start = GetTickCount64();
  for (; inputs < count && !testing::Test::HasFailure(); ++inputs) accepted += body(Mutate(seeds, random), inputs);
  std::printf("fuzz %-22s inputs %llu accepted %llu rejected %llu time %.2f s\n", target, inputs, accepted,
              inputs - accepted, double(GetTickCount64() - start) / 1000.0);
  std::fflush(stdout);
}
