#include "file_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "md5.h"

namespace {

constexpr size_t kChunkSize = 1024 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenForReading(const std::filesystem::path& location) {
#ifdef _WIN32
    return File(::_wfopen(location.c_str(), L"rb"));
#else
    return File(std::fopen(location.c_str(), "rb"));
#endif
}

}  // namespace

std::string HexDigits(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

bool CanOpenForReading(const std::filesystem::path& location, std::string& error) {
    errno = 0;
    if (OpenForReading(location)) return true;
    error = errno != 0 ? std::strerror(errno) : "cannot open";
    return false;
}

bool DigestFile(const std::filesystem::path& location, const ReadCallback& onRead, FileDigest& digest,
                std::string& error) {
    errno = 0;
    File file = OpenForReading(location);
    if (!file) {
        error = errno != 0 ? std::strerror(errno) : "cannot open";
        return false;
    }
    std::vector<unsigned char> chunk(kChunkSize);
    Md5Hasher hasher;
    uint64_t total = 0;
    for (;;) {
        const size_t read = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (read > 0) {
            if (!hasher.Update(chunk.data(), read)) break;
            total += read;
            if (onRead) onRead(read);
        }
        if (read < chunk.size()) {
            if (std::ferror(file.get())) {
                error = errno != 0 ? std::strerror(errno) : "read error";
                return false;
            }
            if (std::feof(file.get())) break;
        }
    }
    std::string md5;
    if (!hasher.Finish(md5)) {
        error = "the MD5 computation failed";
        return false;
    }
    digest.md5 = md5;
    digest.size = total;
    return true;
}
