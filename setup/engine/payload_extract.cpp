#include "setup/engine/payload_extract.h"

bool ComputeFileSha256(const std::wstring&, std::wstring&) { return false; }
bool ExtractPayloadFile(const PayloadEntry&, const std::wstring&) { return false; }
