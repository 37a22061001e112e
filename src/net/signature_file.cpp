#include "net/signature_file.h"

#include <cstddef>

namespace {

constexpr std::string_view kTag = "zerandis-manifest-signature";
constexpr std::string_view kAlgorithm = "ecdsa-p256-sha256";
constexpr std::string_view kNoExpiry = "-";
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

bool TakeDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysSinceEpoch(int year, int month, int day) {
    std::int64_t days = 0;
    for (int y = 1970; y < year; ++y) days += IsLeapYear(y) ? 366 : 365;
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m < month; ++m) days += kMonthDays[m - 1] + (m == 2 && IsLeapYear(year) ? 1 : 0);
    return days + day - 1;
}

// The stamp fields of a version-2 line, taken off its front.
bool TakeStamp(std::string_view& line, ReleaseStamp& stamp) {
    if (!ParseReleaseNumber(NextField(line), stamp.release)) return false;
    const std::string_view expires = NextField(line);
    if (expires == kNoExpiry) return true;
    stamp.expires = std::string(expires);
    return IsExpiryDate(expires);
}

}  // namespace

std::string FormatSignatureLine(const ReleaseStamp& stamp, const SignatureBytes& signature) {
    const std::string expires = stamp.expires.empty() ? std::string(kNoExpiry) : stamp.expires;
    return std::string(kTag) + " 2 " + std::string(kAlgorithm) + " " + std::to_string(stamp.release) + " " +
           expires + " " + Base64(signature.data(), signature.size()) + "\n";
}

std::string ReleaseStatement(const ReleaseStamp& stamp, const Sha256Digest& manifestDigest) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "zerandis-manifest-release " + std::to_string(stamp.release) + " " +
                       (stamp.expires.empty() ? std::string(kNoExpiry) : stamp.expires) + " ";
    for (unsigned char byte : manifestDigest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
    }
    return text + "\n";
}

std::vector<SignatureLine> ReadSignatureLines(std::string_view file) {
    std::vector<SignatureLine> lines;
    while (!file.empty()) {
        const std::size_t end = file.find('\n');
        std::string_view line = file.substr(0, end);
        file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (NextField(line) != kTag) continue;
        SignatureLine read;
        const std::string_view version = NextField(line);
        read.version = version == "1" ? 1 : version == "2" ? 2 : 0;
        if (read.version == 0 || NextField(line) != kAlgorithm) continue;
        if (read.version == 2 && !TakeStamp(line, read.stamp)) continue;
        std::string bytes;
        if (line.find(' ') != std::string_view::npos || !FromBase64(line, bytes)) continue;
        if (bytes.size() != read.signature.size()) continue;
        for (std::size_t i = 0; i < bytes.size(); ++i) read.signature[i] = static_cast<unsigned char>(bytes[i]);
        lines.push_back(read);
    }
    return lines;
}

bool ParseReleaseNumber(std::string_view text, std::uint64_t& release) {
    if (text.empty() || text.size() > 18 || text[0] == '0') return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    release = value;
    return true;
}

bool IsExpiryDate(std::string_view date) {
    int year = 0, month = 0, day = 0;
    if (date.size() != 10 || date[4] != '-' || date[7] != '-' || !TakeDigits(date, 0, 4, year) ||
        !TakeDigits(date, 5, 2, month) || !TakeDigits(date, 8, 2, day)) {
        return false;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1) return false;
    return day <= DaysSinceEpoch(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1) -
                      DaysSinceEpoch(year, month, 1);
}

std::int64_t ExpiryInstant(std::string_view date) {
    int year = 0, month = 0, day = 0;
    TakeDigits(date, 0, 4, year);
    TakeDigits(date, 5, 2, month);
    TakeDigits(date, 8, 2, day);
    return (DaysSinceEpoch(year, month, day) + 1) * 86400;
}

std::string DescribeReleaseStamp(const ReleaseStamp& stamp) {
    return "release " + std::to_string(stamp.release) +
           (stamp.expires.empty() ? ", no expiry" : ", expires " + stamp.expires + " (end of the day, UTC)");
}
