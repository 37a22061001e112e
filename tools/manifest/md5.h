#pragma once
// Streaming MD5, one interface with two backends: OpenSSL's libcrypto on
// Linux (md5_openssl.cpp), on Windows the patcher's own CNG hash
// (md5_bcrypt.cpp over src/net/md5_bcrypt).

#include <cstddef>
#include <memory>
#include <string>

class Md5Hasher {
public:
    Md5Hasher();  // a backend that fails to start makes Update and Finish fail
    ~Md5Hasher();
    Md5Hasher(const Md5Hasher&) = delete;
    Md5Hasher& operator=(const Md5Hasher&) = delete;

    // Adds `size` bytes. False once the backend has failed.
    bool Update(const void* data, size_t size);
    // Ends the hash (call once) and gives 32 lower-case hexadecimal digits.
    // False, with `hex` untouched, when any step failed.
    bool Finish(std::string& hex);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Lower-case hexadecimal digits of `count` bytes; shared by both backends.
std::string HexDigits(const unsigned char* bytes, size_t count);
