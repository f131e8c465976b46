#include "setup/engine/payload_manifest.h"

std::wstring DecodeUtf8(const char*, std::int32_t) { return {}; }
std::string_view LoadResourceBytes(int) { return {}; }
bool ParsePayloadManifest(const std::wstring&, std::vector<PayloadEntry>&) { return false; }
bool ReadPayloadManifest(std::vector<PayloadEntry>&, std::wstring&) { return false; }
