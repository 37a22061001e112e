#include "path_rules.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace {

std::string Quoted(char c) { return std::string("'") + c + "'"; }

}  // namespace

std::vector<std::string> NameProblems(std::string_view name, bool first) {
    if (!IsValidUtf8(name)) return {"the name is not valid UTF-8"};
    std::vector<std::string> problems;
    // A Linux name may hold ":" and "\\", which a manifest reads as a stream and a separator.
    std::string reserved;
    for (char c : std::string_view("<>:\"|?*\\")) {
        if (name.find(c) != std::string_view::npos) reserved += (reserved.empty() ? "" : " ") + Quoted(c);
    }
    if (HasControlCharacter(name)) problems.push_back("control character in the name");
    if (!reserved.empty()) problems.push_back("character " + reserved + " is not allowed in Windows names");
    if (IsParentLikeName(name)) {
        problems.push_back("'..' or a name Windows reads as '..'");
    } else if (EndsInDotOrSpace(name)) {
        problems.push_back("the name ends in a dot or a space, which Windows drops");
    }
    if (IsDeviceName(name)) problems.push_back("reserved Windows device name");
    if (first && !name.empty() && name.front() == ' ') {
        problems.push_back("the path begins with a space, which the manifest's field separator swallows");
    }
    return problems;
}

std::string Printable(std::string_view bytes) {
    std::string text;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t start = at;
        char32_t c = 0;
        if (DecodeUtf8(bytes, at, c) && c >= 0x20 && !(c >= 0x7F && c <= 0x9F)) {
            text.append(bytes.substr(start, at - start));
            continue;
        }
        at = start + 1;
        std::array<char, 5> hex{};
        std::snprintf(hex.data(), hex.size(), "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(bytes[start])));
        text += hex.data();
    }
    return text;
}
