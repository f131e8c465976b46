#include "setup/runtime/runtime_descriptor.h"

#include <string_view>

#include "setup/core/resources.h"
#include "setup/core/text.h"

namespace {

constexpr std::wstring_view kRequiredScheme = L"https://";

// Reads up to the delimiter (consumed) or the end of the text, like getline: fails
// only when the text had already ended, so an empty field is still a field.
bool ReadField(const std::wstring& text, size_t& position, wchar_t delimiter, std::wstring& field) {
  if (position >= text.size()) return false;
  size_t end = text.find(delimiter, position);
  if (end == std::wstring::npos) end = text.size();
  field = text.substr(position, end - position);
  position = end == text.size() ? end : end + 1;
  return true;
}

bool IsHttpsUrl(const std::wstring& url) {
  return std::wstring_view(url).substr(0, kRequiredScheme.size()) == kRequiredScheme;
}

}  // namespace

bool ParseRuntimeDescriptor(const std::wstring& text, RuntimeDescriptor& descriptor) {
  size_t position = 0;
  std::wstring sizeText;
  if (!ReadField(text, position, L'\t', descriptor.url) || !ReadField(text, position, L'\t', sizeText) ||
      !ReadField(text, position, L'\n', descriptor.sha256)) {
    return false;
  }
  if (!descriptor.sha256.empty() && descriptor.sha256.back() == L'\r') descriptor.sha256.pop_back();
  if (!IsHttpsUrl(descriptor.url) || !IsHexDigest(descriptor.sha256)) return false;
  auto size = ReadUnsigned64(sizeText, false);
  if (!size || *size < 1 || *size > kMaxRuntimePackageSize) return false;
  descriptor.size = *size;
  return true;
}

bool ReadRuntimeDescriptor(RuntimeDescriptor& descriptor) {
  std::string_view bytes = LoadResourceBytes(RuntimeDescriptorResourceId);
  if (bytes.empty()) return false;
  return ParseRuntimeDescriptor(DecodeUtf8(bytes.data(), std::int32_t(bytes.size())), descriptor);
}
