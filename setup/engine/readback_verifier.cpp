#include "setup/engine/readback_verifier.h"

#include <windows.h>

#include <utility>

#include "setup/engine/payload_extract.h"

namespace {

// Below this size a file is read back on the writing thread, the worker being idle:
// handing it over costs two events, each a round trip to the Wine server and a thread
// switch, more than reading and hashing it (measured: 10,000 files of 4 KiB took
// 0.2 ms a file longer handed over than a floor program checking each in place).
// Kept low so that the larger files of a typical payload still overlap with writing.
constexpr std::uint64_t kHandOverFrom = 16 * 1024;

bool RunCheck(ReadbackVerifier& verifier) {
  return MatchesManifest(verifier.hasher, verifier.job.path, verifier.job.entry);
}

DWORD WINAPI ReadbackWorker(void* parameter) {
  auto& verifier = *static_cast<ReadbackVerifier*>(parameter);
  while (WaitForSingleObject(verifier.jobReady.get(), INFINITE) == WAIT_OBJECT_0 && !verifier.stopping) {
    verifier.passed = RunCheck(verifier);
    SetEvent(verifier.jobDone.get());
  }
  return 0;
}

}  // namespace

ReadbackVerifier::~ReadbackVerifier() { StopReadbackVerifier(*this); }

bool StartReadbackVerifier(ReadbackVerifier& verifier) {
  if (!OpenSha256Hasher(verifier.hasher)) return false;
  verifier.jobReady.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  verifier.jobDone.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (verifier.jobReady && verifier.jobDone) {
    verifier.worker.reset(CreateThread(nullptr, 0, ReadbackWorker, &verifier, 0, nullptr));
  }
  return true;
}

bool CollectReadback(ReadbackVerifier& verifier) {
  if (!verifier.pending) return verifier.passed;
  verifier.pending = false;
  if (WaitForSingleObject(verifier.jobDone.get(), INFINITE) != WAIT_OBJECT_0) verifier.passed = false;
  return verifier.passed;
}

bool SubmitReadback(ReadbackVerifier& verifier, ReadbackCheck&& check) {
  if (!CollectReadback(verifier)) return false;
  verifier.job = std::move(check);
  if (!verifier.worker || verifier.job.entry.size < kHandOverFrom) {
    verifier.passed = RunCheck(verifier);
    return verifier.passed;
  }
  if (SetEvent(verifier.jobReady.get())) {
    verifier.pending = true;
    return true;
  }
  verifier.passed = RunCheck(verifier);
  return verifier.passed;
}

void StopReadbackVerifier(ReadbackVerifier& verifier) {
  if (!verifier.worker) return;
  CollectReadback(verifier);
  verifier.stopping = true;
  SetEvent(verifier.jobReady.get());
  WaitForSingleObject(verifier.worker.get(), INFINITE);
  verifier.worker.reset();
}
