#include "config/settings.h"

#include <iterator>
#include <vector>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "config/ini_text.h"

PatcherSettings Settings;

namespace {

constexpr DWORD kIniValueCapacity = kIniValueLimit + 1;
// More than any hand-written patcher.ini; only a UTF-8 file is read whole.
constexpr DWORD kIniReadLimit = 1048576;
constexpr wchar_t kIniSection[] = L"PATCHER";
constexpr wchar_t kHttpsScheme[] = L"https://";

// Any failure of the attribute query, not only absence, counts as "no file":
// the run then goes on with the values it already holds.
bool IniFileExists(const std::wstring& iniPath) {
    return ::GetFileAttributesW(iniPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file's first kIniReadLimit bytes; empty when it cannot be read.
std::string ReadIniBytes(const std::wstring& iniPath) {
    const FileHandle file(::CreateFileW(iniPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes(kIniReadLimit, '\0');
    DWORD read = 0;
    if (!::ReadFile(file.Get(), bytes.data(), kIniReadLimit, &read, nullptr)) return {};
    bytes.resize(read);
    return bytes;
}

// ANSI text (the system's code page) as UTF-8.
std::string AnsiAsUtf8(const std::string& bytes) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
    return WideToUtf8(wide);
}

}  // namespace

std::wstring ReadIniValue(const std::wstring& iniPath, const std::wstring& key, const std::wstring& defaultValue) {
    // Saved as UTF-8 (with a mark, as Notepad did, or with non-ASCII text and
    // no mark, as it does now): Windows would read it as ANSI and miss the
    // section or garble the value, so it is read here by the same rules.
    // Windows' reader takes no path in the "\\?\" form either (a game folder
    // past the classic limit): such a file is read here too, ANSI text converted.
    const std::string bytes = ReadIniBytes(iniPath);
    const bool marked = HasUtf8Bom(bytes);
    if (marked || IsUtf8BeyondAscii(bytes) || iniPath != WithoutLongPrefix(iniPath)) {
        std::string text = bytes.substr(marked ? 3 : 0);
        if (!marked && !text.empty() && Utf8ToWide(text).empty()) text = AnsiAsUtf8(text);
        std::wstring value;
        const bool found = FindIniValue(text, kIniSection, key, value);
        return TrimWhitespace(found ? value : defaultValue.substr(0, kIniValueLimit));
    }
    std::vector<wchar_t> buffer(kIniValueCapacity, L'\0');
    ::GetPrivateProfileStringW(kIniSection, key.c_str(), defaultValue.c_str(), buffer.data(), kIniValueCapacity,
                               iniPath.c_str());
    return TrimWhitespace(std::wstring(buffer.data()));
}

bool LoadSettings(std::wstring& errorText) {
    const std::wstring iniPath = LongPathForm(ResolveAppPath(L"patcher.ini"));
    if (IniFileExists(iniPath)) {
        // The current value is the default, so a key removed since the last run keeps that run's value.
        Settings.baseUrl = ReadIniValue(iniPath, L"BASE_URL", Settings.baseUrl);
        Settings.manifestPath = ReadIniValue(iniPath, L"MANIFEST", Settings.manifestPath);
        Settings.gameExe = ReadIniValue(iniPath, L"GAME_EXE", Settings.gameExe);
        Settings.patcherExe = ReadIniValue(iniPath, L"PATCHER_EXE", Settings.patcherExe);
        Settings.updaterPath = ReadIniValue(iniPath, L"UPDATER", Settings.updaterPath);
    }

    std::wstring& baseUrl = Settings.baseUrl;
    if (baseUrl.empty()) {
        errorText = L"Adres serwera aktualizacji jest pusty.";
        return false;
    }
    if (baseUrl.compare(0, std::size(kHttpsScheme) - 1, kHttpsScheme) != 0) {
        errorText = L"Adres serwera aktualizacji musi używać HTTPS.";
        return false;
    }
    if (baseUrl.back() != L'/') baseUrl.push_back(L'/');
    return true;
}
