#include "net/manifest_fields.h"

namespace {

bool IsFieldSeparator(char c) { return c == ' ' || c == '\t'; }

std::size_t FindSeparator(std::string_view line, std::size_t from) {
    while (from < line.size() && !IsFieldSeparator(line[from])) ++from;
    return from < line.size() ? from : std::string_view::npos;
}

std::size_t FindNonSeparator(std::string_view line, std::size_t from) {
    while (from < line.size() && IsFieldSeparator(line[from])) ++from;
    return from < line.size() ? from : std::string_view::npos;
}

}  // namespace

std::string_view WithoutUtf8Bom(std::string_view text) {
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    return text;
}

bool NextEntryLine(std::string_view& text, std::string_view& line, std::size_t& lineNumber) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.front() != '#') return true;
    }
    return false;
}

bool SplitManifestFields(std::string_view line, ManifestFields& fields) {
    const std::size_t p1 = FindSeparator(line, 0);
    if (p1 == std::string_view::npos) return false;
    const std::size_t s2 = FindNonSeparator(line, p1);
    if (s2 == std::string_view::npos) return false;
    const std::size_t e2 = FindSeparator(line, s2);
    if (e2 == std::string_view::npos) return false;
    const std::size_t s3 = FindNonSeparator(line, e2);
    if (s3 == std::string_view::npos) return false;
    fields = {line.substr(0, p1), line.substr(s2, e2 - s2), line.substr(s3)};
    return true;
}

bool ParseManifestSize(std::string_view field, std::uint64_t& size) {
    constexpr std::uint64_t kMax = UINT64_MAX;
    std::size_t at = 0;
    bool negative = false;
    if (at < field.size() && (field[at] == '+' || field[at] == '-')) {
        negative = field[at] == '-';
        ++at;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at, ++digits) {
        const auto digit = static_cast<std::uint64_t>(field[at] - '0');
        if (value > (kMax - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (digits == 0) return false;
    size = negative ? 0 - value : value;  // unsigned wrap-around is the defined modulo-2^64 negation
    return true;
}
