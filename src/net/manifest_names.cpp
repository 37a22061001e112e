#include "net/manifest_names.h"

bool DecodeUtf8(std::string_view bytes, size_t& at, char32_t& codePoint) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    char32_t value = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        ++at;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, lowest = 0x10000;
    } else {
        return false;
    }
    if (bytes.size() - at < length) return false;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return false;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    codePoint = value;
    at += length;
    return true;
}

namespace {

// Simple lower-case mapping of the alphabets a client's file names are
// written in; Windows compares names through the same kind of table.
char32_t FoldOne(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;  // Latin-1 letters
    if (c >= 0x100 && c <= 0x17F) {                              // Latin Extended-A: ą ć ę ł ń ś ź ż…
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if (c == 0x178) return 0xFF;
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        const bool isUpper = oddUpper ? (c % 2 == 1) : (c % 2 == 0);
        return isUpper ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
    if (c == 0x386) return 0x3AC;                                 // Greek with tonos
    if (c >= 0x388 && c <= 0x38A) return c + 0x25;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 0x3F;
    if (c == 0x3C2) return 0x3C3;  // final sigma upper-cases to sigma's capital: refuse the pair rather than miss it
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Calls `visit` with each element of `path`, empty ones included; stops at
// the first for which it returns true, and returns whether one did.
template <typename Visit>
bool AnyElement(std::string_view path, Visit visit) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (visit(path.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

bool IsTopLevelName(std::string_view key, std::string_view name) { return key == FoldCase(name); }

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsValidUtf8(std::string_view bytes) {
    size_t at = 0;
    char32_t ignored = 0;
    while (at < bytes.size()) {
        if (!DecodeUtf8(bytes, at, ignored)) return false;
    }
    return true;
}

bool IsParentLikeName(std::string_view element) {
    size_t dots = 0;
    for (char c : element) {
        if (c == '.') {
            ++dots;
        } else if (c != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

bool IsManifestPath(std::string_view path) {
    if (path.empty() || IsSeparator(path.front())) return false;
    // Every file call would cut the name at a NUL and so write another file than the one listed.
    if (path.find(':') != std::string_view::npos || path.find('\0') != std::string_view::npos) return false;
    return !AnyElement(path, IsParentLikeName);
}

bool IsDeviceName(std::string_view element) {
    std::string_view stem = element.substr(0, element.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    std::string upper;
    for (char c : stem) upper += AsciiUpper(c);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$") {
        return true;
    }
    const std::string_view head = std::string_view(upper).substr(0, 3);
    if (head != "COM" && head != "LPT") return false;
    const std::string_view tail = std::string_view(upper).substr(3);
    if (tail.size() == 1 && tail[0] >= '0' && tail[0] <= '9') return true;
    return tail == "\xC2\xB9" || tail == "\xC2\xB2" || tail == "\xC2\xB3";
}

bool EndsInDotOrSpace(std::string_view element) {
    return element != "." && !element.empty() && (element.back() == '.' || element.back() == ' ');
}

bool HasControlCharacter(std::string_view element) {
    for (char c : element) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}

bool HasReservedCharacter(std::string_view element) {
    return HasControlCharacter(element) || element.find_first_of("<>\"|?*") != std::string_view::npos;
}

bool HasUnusableName(std::string_view path) {
    if (StoredNameKey(path).empty()) return true;
    return AnyElement(path, [](std::string_view element) {
        return IsDeviceName(element) || EndsInDotOrSpace(element) || HasReservedCharacter(element);
    });
}

std::string FoldCase(std::string_view text) {
    std::string folded;
    folded.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        if (DecodeUtf8(text, at, c)) {
            AppendUtf8(folded, FoldOne(c));
        } else {
            folded += text[at++];
        }
    }
    return folded;
}

std::string StoredNameKey(std::string_view path) {
    std::string name;
    AnyElement(path, [&](std::string_view element) {
        while (!element.empty() && (element.back() == '.' || element.back() == ' ')) element.remove_suffix(1);
        if (!element.empty()) {
            if (!name.empty()) name += '/';
            name += element;
        }
        return false;
    });
    return FoldCase(name);
}

bool IsPatcherOwnFile(std::string_view path) {
    const std::string key = StoredNameKey(path);
    return key.ends_with(kStagingSuffix) || IsTopLevelName(key, kLogName) || IsTopLevelName(key, kCrashDumpName) ||
           IsTopLevelName(key, kReleaseStateName);
}

ListedNameFault JudgeListedName(std::string_view path, const ListedNameFacts& facts) {
    const std::string key = StoredNameKey(path);
    if (facts.log || IsTopLevelName(key, kLogName)) return ListedNameFault::Log;
    if (facts.staging || key.ends_with(kStagingSuffix)) return ListedNameFault::Staging;
    if (facts.listedBefore) return ListedNameFault::Twice;
    if (IsPatcherOwnFile(path) || HasUnusableName(path)) return ListedNameFault::Unusable;
    return ListedNameFault::None;
}
