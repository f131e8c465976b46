// The read-back check of staged files on a second thread, one file behind the writer:
// a large file N is read back and hashed while file N+1 is written, so that both cores
// work; a small one is checked at once, which costs less than handing it over.
// The engine's own calls (create, write, flush) stay on the writing thread, in order.
#pragma once

#include <cstdint>
#include <string>

#include "setup/core/handles.h"
#include "setup/core/sha256.h"
#include "setup/engine/payload_manifest.h"

struct ReadbackCheck {
  std::wstring path;
  PayloadEntry entry;  // what the manifest promised for it
};

// Used by the writing thread only; the worker sees it between the two events. Never
// moved; going out of scope ends the worker.
struct ReadbackVerifier {
  ReadbackVerifier() = default;
  ReadbackVerifier(const ReadbackVerifier&) = delete;
  ReadbackVerifier& operator=(const ReadbackVerifier&) = delete;
  ~ReadbackVerifier();

  Sha256Hasher hasher;
  UniqueHandle jobReady;
  UniqueHandle jobDone;
  UniqueHandle worker;  // none: every check runs on the writing thread
  ReadbackCheck job;
  bool pending = false;
  bool passed = true;
  bool stopping = false;
};

// False when no hasher could be made. Without a second thread the checks run inline.
bool StartReadbackVerifier(ReadbackVerifier& verifier);
// Waits for the file handed over last; false when it failed its check.
bool CollectReadback(ReadbackVerifier& verifier);
// Hands over the next file once the previous one is collected; a small file, or any
// file without the worker, is checked now.
bool SubmitReadback(ReadbackVerifier& verifier, ReadbackCheck&& check);
// Waits for the worker to end; afterwards no staged file is held open.
void StopReadbackVerifier(ReadbackVerifier& verifier);
