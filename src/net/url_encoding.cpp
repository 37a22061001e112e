#include "net/url_encoding.h"

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '-' || c == '_' || c == '.' || c == '~';
}

}  // namespace

std::string PercentEncodeBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (IsUnreserved(c)) {
            encoded.push_back(byte);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0x0F]);
        }
    }
    return encoded;
}

std::string FileUrlPath(std::string_view relativePath) {
    std::string path(relativePath);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    const size_t firstKept = path.find_first_not_of('/');
    path.erase(0, firstKept == std::string::npos ? path.size() : firstKept);
    return PercentEncodeBytes(path);
}

std::string AppendQueryBytes(std::string_view url, std::string_view key, std::string_view value) {
    const char joiner = url.find('?') == std::string_view::npos ? '?' : '&';
    return std::string(url) + joiner + PercentEncodeBytes(key) + "=" + PercentEncodeBytes(value);
}
