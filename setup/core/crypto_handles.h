// Owners for the BCrypt objects of the digest: a provider is closed, a hash destroyed.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "setup/core/handles.h"

struct AlgorithmProviderTraits {
  using Value = BCRYPT_ALG_HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) { BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueAlgorithmProvider = UniqueResource<AlgorithmProviderTraits>;

struct HashTraits {
  using Value = BCRYPT_HASH_HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) { BCryptDestroyHash(h); }
};
using UniqueHash = UniqueResource<HashTraits>;
