#include "net/manifest.h"

#include <algorithm>
#include <utility>

#include "common/text.h"
#include "net/manifest_names.h"

namespace {

constexpr size_t kShortestEntryLine = 32 + 1 + 1 + 1 + 1;  // md5, blank, size digit, blank, path

bool IsLowerHexDigest(const std::wstring& md5) {
    if (md5.size() != 32) return false;
    for (wchar_t c : md5) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    }
    return true;
}

// Pure ASCII is valid UTF-8 that maps one to one, and nearly every field is
// ASCII; widening it here spares the system conversion, the parse's main cost.
std::wstring DecodeField(std::string_view bytes) {
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return Utf8ToWide(std::string(bytes));
    }
    return std::wstring(bytes.begin(), bytes.end());
}

std::wstring LineError(const wchar_t* prefix, size_t lineNumber) {
    return prefix + std::to_wstring(lineNumber);
}

enum class LineResult { Ok, StructureError, SizeError, EntryError };

// One entry line (not empty, not a comment) into `entry`.
LineResult ParseEntryLine(std::string_view line, ManifestEntry& entry) {
    ManifestFields fields;
    if (!SplitManifestFields(line, fields)) return LineResult::StructureError;
    if (!ParseManifestSize(fields.size, entry.size)) return LineResult::SizeError;
    entry.md5 = ToLowerWide(DecodeField(fields.md5));
    // The rule reads the line's own bytes; ill-formed UTF-8 decodes to an empty path, refused below.
    if (!IsManifestPath(fields.path)) return LineResult::EntryError;
    entry.path = DecodeField(fields.path);
    for (wchar_t& c : entry.path) {
        if (c == L'/') c = L'\\';
    }
    if (!IsLowerHexDigest(entry.md5) || entry.path.empty()) return LineResult::EntryError;
    return LineResult::Ok;
}

}  // namespace

bool IsValidManifestPath(const std::wstring& path) {
    // A NUL converts like any character, so the shared rule still sees it.
    return !path.empty() && IsManifestPath(WideToUtf8(path));
}

bool ParseManifest(const std::vector<char>& bytes, Manifest& manifest, std::wstring& error) {
    std::string_view text = WithoutUtf8Bom(std::string_view(bytes.data(), bytes.size()));

    const size_t entriesBefore = manifest.size();
    // Reserving spares the moves of repeated growth. A valid line holds at
    // least 36 bytes, which bounds the slots for a text of blank lines too.
    const auto lineEnds = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    manifest.reserve(entriesBefore + std::min(lineEnds + 1, text.size() / kShortestEntryLine + 1));
    size_t lineNumber = 0;
    std::string_view line;
    while (NextEntryLine(text, line, lineNumber)) {
        ManifestEntry entry;
        switch (ParseEntryLine(line, entry)) {
            case LineResult::Ok:
                manifest.push_back(std::move(entry));
                break;
            case LineResult::StructureError:
                error = LineError(L"Błędna linia manifestu: ", lineNumber);
                return false;
            case LineResult::SizeError:
                error = LineError(L"Błędny rozmiar w linii manifestu: ", lineNumber);
                return false;
            case LineResult::EntryError:
                error = LineError(L"Nieprawidłowy wpis manifestu w linii ", lineNumber);
                return false;
        }
    }
    if (manifest.size() == entriesBefore) {
        error = L"Manifest nie zawiera żadnych plików.";
        return false;
    }
    return true;
}
