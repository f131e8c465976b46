// Writing one packaged file from its resource and proving, by length and SHA-256 read
// back from the disk, that it is what the manifest promised.
#pragma once

#include <windows.h>

#include <string>

#include "setup/engine/payload_manifest.h"

bool ExtractPayloadFile(const PayloadEntry& entry, const std::wstring& targetPath);
