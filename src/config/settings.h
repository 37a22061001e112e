#pragma once
// patcher.ini beside the executable, section [PATCHER]. Every key is optional;
// the record starts with built-in defaults and is reloaded at every run start.

#include <string>

struct PatcherSettings {
    std::wstring baseUrl = PATCHER_DEFAULT_BASE_URL;  // "https://…/" after a successful load
    std::wstring manifestPath = L"manifest.md5";
    std::wstring gameExe = L"Zerandis.exe";
    std::wstring patcherExe = L"Zerandis_Patcher.exe";
    std::wstring updaterPath = L"patcher\\Zerandis_PatcherUpdate.bin";
};

// The process-wide settings. Written only by LoadSettings on the update worker
// at run start; read by the run and, while no run is active, by the window.
extern PatcherSettings Settings;

// Reads patcher.ini (a missing file or key keeps the current value) and checks
// BASE_URL. False with `errorText` set when BASE_URL is empty or not https://.
bool LoadSettings(std::wstring& errorText);

// The trimmed value of `key` in section PATCHER of `iniPath`, or `defaultValue`
// when the key is missing. At most 2047 characters of a value are used.
std::wstring ReadIniValue(const std::wstring& iniPath, const std::wstring& key, const std::wstring& defaultValue);
