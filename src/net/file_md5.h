#pragma once
// MD5 of a file on disk, as 32 lower-case hexadecimal digits (the manifest's
// form). Used to check local files and to verify downloads.

#include <string>

// Hashes the whole file at `path` in 1 MiB sequential reads, polling
// CancelRequested before every read. True with the digest in `md5`; false
// with a complete Polish message in `error`. Each output is touched only in
// its own outcome; every handle and buffer is released on every path.
bool ComputeFileMd5(const std::wstring& path, std::wstring& md5, std::wstring& error);
