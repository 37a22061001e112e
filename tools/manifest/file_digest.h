#pragma once
// Size and MD5 of a file on disk, read once.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

struct FileDigest {
    std::string md5;    // 32 lower-case hexadecimal digits
    uint64_t size = 0;  // the bytes hashed
};

// Called with the byte count of each read, for progress.
using ReadCallback = std::function<void(uint64_t bytes)>;

// Hashes the whole file at `location` in 1 MiB reads. False with `error` set
// (the system's reason) when it cannot be opened or read.
bool DigestFile(const std::filesystem::path& location, const ReadCallback& onRead, FileDigest& digest,
                std::string& error);

// True when the file at `location` can be opened for reading; otherwise
// false with the system's reason in `error`.
bool CanOpenForReading(const std::filesystem::path& location, std::string& error);
