#pragma once
// Owners for CNG (bcrypt) handles: algorithm providers, hashes, keys. Null
// when absent.

#include "common/handle.h"

#include <bcrypt.h>  // after windows.h, whose types it uses

struct BcryptAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using AlgorithmHandle = UniqueHandle<BcryptAlgorithmTraits>;

struct BcryptHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};
using HashHandle = UniqueHandle<BcryptHashTraits>;

struct BcryptKeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyKey(h); }
};
using KeyHandle = UniqueHandle<BcryptKeyTraits>;
