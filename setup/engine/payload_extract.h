// Writing one packaged file from its resource and proving, by length and SHA-256 read
// back from the disk, that it is what the manifest promised.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "setup/core/sha256.h"
#include "setup/engine/payload_manifest.h"
#include "setup/engine/staging_tree.h"

// The write half: the entry's resource, of the manifest's size, into a new file in the
// staging tree, flushed. target: the file's full path.
bool StagePayloadFile(const PayloadEntry& entry, StagingTree& tree, std::wstring& target);
// The check half: the file read back has the manifest's length and SHA-256.
bool MatchesManifest(Sha256Hasher& hasher, const std::wstring& path, const PayloadEntry& entry);
