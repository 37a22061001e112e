#include "net/signature_file.h"

#include <cstddef>

namespace {

constexpr std::string_view kTag = "zerandis-manifest-signature";
constexpr std::string_view kVersion = "1";
constexpr std::string_view kAlgorithm = "ecdsa-p256-sha256";
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const unsigned char* bytes, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t left = size - i;
        const unsigned value = (bytes[i] << 16) | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= left ? kAlphabet[(value >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}

// Whole groups of four characters, "=" only as the final padding.
bool FromBase64(std::string_view text, std::string& bytes) {
    if (text.size() % 4 != 0) return false;
    std::size_t digits = text.size();
    while (digits > 0 && text.size() - digits < 2 && text[digits - 1] == '=') --digits;
    unsigned value = 0;
    int bits = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const std::size_t digit = kAlphabet.find(text[i]);
        if (digit == std::string_view::npos) return false;
        value = ((value << 6) | static_cast<unsigned>(digit)) & 0xFFFFu;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xFFu);
        }
    }
    return true;
}

// The next space-separated field of `line`, taken off its front.
std::string_view NextField(std::string_view& line) {
    const std::size_t end = line.find(' ');
    const std::string_view field = line.substr(0, end);
    line.remove_prefix(end == std::string_view::npos ? line.size() : end + 1);
    return field;
}

}  // namespace

std::string FormatSignatureLine(const SignatureBytes& signature) {
    return std::string(kTag) + " " + std::string(kVersion) + " " + std::string(kAlgorithm) + " " +
           Base64(signature.data(), signature.size()) + "\n";
}

std::vector<SignatureBytes> ReadSignatureLines(std::string_view file) {
    std::vector<SignatureBytes> signatures;
    while (!file.empty()) {
        const std::size_t end = file.find('\n');
        std::string_view line = file.substr(0, end);
        file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (NextField(line) != kTag || NextField(line) != kVersion || NextField(line) != kAlgorithm) continue;
        std::string bytes;
        if (line.find(' ') != std::string_view::npos || !FromBase64(line, bytes)) continue;
        if (bytes.size() != SignatureBytes{}.size()) continue;
        SignatureBytes signature{};
        for (std::size_t i = 0; i < signature.size(); ++i) signature[i] = static_cast<unsigned char>(bytes[i]);
        signatures.push_back(signature);
    }
    return signatures;
}
