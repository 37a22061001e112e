#include "config/settings.h"

#include <iterator>
#include <vector>

#include "common/app_paths.h"
#include "common/text.h"
#include "common/win_compat.h"

PatcherSettings Settings;

namespace {

constexpr DWORD kIniValueCapacity = 2048;
constexpr wchar_t kIniSection[] = L"PATCHER";
constexpr wchar_t kHttpsScheme[] = L"https://";

// Any failure of the attribute query, not only absence, counts as "no file":
// the run then goes on with the values it already holds.
bool IniFileExists(const std::wstring& iniPath) {
    return ::GetFileAttributesW(iniPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::wstring ReadIniValue(const std::wstring& iniPath, const std::wstring& key, const std::wstring& defaultValue) {
    std::vector<wchar_t> buffer(kIniValueCapacity, L'\0');
    ::GetPrivateProfileStringW(kIniSection, key.c_str(), defaultValue.c_str(), buffer.data(), kIniValueCapacity,
                               iniPath.c_str());
    return TrimWhitespace(std::wstring(buffer.data()));
}

bool LoadSettings(std::wstring& errorText) {
    const std::wstring iniPath = ResolveAppPath(L"patcher.ini");
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
