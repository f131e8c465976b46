// Benchmark helper, linked by scripts/bench-payload with a payload's resources: reads
// this program's payload manifest and extracts and verifies every file into the folder
// given on the command line, as the install does per file, and prints the time taken.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "setup/core/paths.h"
#include "setup/engine/payload_extract.h"
#include "setup/engine/payload_manifest.h"

namespace {

double SecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 87;
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  std::vector<PayloadEntry> entries;
  std::wstring text;
  if (!ReadPayloadManifest(entries, text)) return 2;
  StagingTree tree;
  Sha256Hasher hasher;
  if (!EnsureDirectory(argv[1]) || !MakeStagingTree(argv[1], tree) || !OpenSha256Hasher(hasher)) return 3;
  std::uint64_t bytes = 0;
  for (const PayloadEntry& entry : entries) {
    std::wstring target;
    if (!StagePayloadFile(entry, tree, target) || !MatchesManifest(hasher, target, entry)) return 4;
    bytes += entry.size;
  }
  std::printf("%zu files %llu bytes %.3f s\n", entries.size(), static_cast<unsigned long long>(bytes),
              SecondsSince(start));
  return 0;
}
