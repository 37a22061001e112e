#pragma once
// Streaming MD5 on the platform's CNG primitives (bcrypt), over one MD5
// provider shared by the whole process. The patcher's file check and the
// Windows build of the manifest tool both hash through it.

#include <array>
#include <cstddef>
#include <memory>

using Md5Digest = std::array<unsigned char, 16>;

enum class Md5Start {
    Ready,       // the hash is open
    NoProvider,  // the MD5 provider cannot be opened
    Failed,      // a property query, an allocation or the hash creation failed
};

class BcryptMd5 {
public:
    BcryptMd5();
    ~BcryptMd5();  // destroys the hash, then the buffer it lives in
    BcryptMd5(const BcryptMd5&) = delete;
    BcryptMd5& operator=(const BcryptMd5&) = delete;

    // Opens the hash (call once, before anything else). Opening the
    // process-wide provider is tried again by every call until it succeeds.
    Md5Start Start();
    // Adds `size` bytes. False when the hash is not open or any step failed.
    bool Update(const void* data, size_t size);
    // Ends the hash (call once) into `digest`. False, with `digest` untouched,
    // when any step failed; afterwards Update and Finish fail.
    bool Finish(Md5Digest& digest);

private:
    struct State;
    std::unique_ptr<State> state_;
};
