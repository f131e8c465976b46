// One synchronous HTTPS GET of the runtime package into a new file, accepting exactly
// the length the descriptor announces, with progress posted to the setup window.
#pragma once

#include <windows.h>

#include <string>

#include "setup/runtime/runtime_descriptor.h"

// Milliseconds. The receive time-out also bounds the wait for the response headers:
// without that a server that accepts and then stays silent holds the install forever.
struct DownloadTimeouts {
  int resolve = 15000;
  int connect = 15000;
  int send = 30000;
  int receive = 30000;
};

// True when status 200 came with a body of exactly descriptor.size bytes, written and
// flushed to the new file. On false the file may exist with part of the body: the
// caller deletes it. progressTarget: address of the window handle, or null.
bool DownloadToFile(const RuntimeDescriptor& descriptor, const std::wstring& destination,
                    const HWND* progressTarget, const DownloadTimeouts& timeouts = {});
