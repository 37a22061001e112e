#pragma once
// Response bodies from the update server: into memory (the manifest) or into a file.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/handle.h"

// Receives the total number of bytes written to the file so far in this call.
using DownloadProgressCallback = std::function<void(std::uint64_t)>;

// The most FetchToMemory accepts: 16 MiB, a body of exactly this size included.
inline constexpr std::uint64_t kFetchToMemoryLimit = 16777216;

// Reads the whole body of `url` into `bytes` (emptied once the request is
// open). False with `error` on any failure, an oversized or too slow body
// (SlowTransferLimit), or a cancel; `bytes` then holds what had been read.
// Any failure while the cancel flag is set reads "Operacja anulowana.".
bool FetchToMemory(const std::wstring& url, std::vector<char>& bytes, std::wstring& error);

// A transfer that receives fewer than `minBytes` in any `window` is given up:
// a server that drips its bytes cannot hold a run for days.
struct SlowTransferRule {
    std::chrono::milliseconds window{60000};
    std::uint64_t minBytes = 1024;
};
// The rule every FetchToMemory and DownloadToFile applies; set before a run (tests shorten it).
extern SlowTransferRule SlowTransferLimit;

inline constexpr std::uint64_t kNoSizeLimit = UINT64_MAX;

// Streams the body of `url` through `file` (open for writing, empty, its
// holder the caller's) and calls `onProgress` after every write; the file is
// flushed to disk at the end of the body. The file never grows beyond
// `maxBytes`: a body longer than that fails the transfer. False with `error`
// on any failure, a body that is too long or too slow, or a cancel (any
// failure while the cancel flag is set reads "Operacja anulowana."); what was
// written stays for the caller to remove.
bool DownloadToFile(const std::wstring& url, const FileHandle& file, const DownloadProgressCallback& onProgress,
                    std::wstring& error, std::uint64_t maxBytes = kNoSizeLimit);

// The same into `path`, created or truncated only once the request succeeded.
bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    const DownloadProgressCallback& onProgress, std::wstring& error,
                    std::uint64_t maxBytes = kNoSizeLimit);
