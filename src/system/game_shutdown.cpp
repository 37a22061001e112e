#include "system/game_shutdown.h"

#include <tlhelp32.h>

#include "common/handle.h"
#include "common/text.h"
#include "config/settings.h"
#include "system/process_shutdown.h"

namespace {

constexpr ShutdownPlan kGamePlan{
    8000,
    L"Wykryto uruchomioną grę. Próba normalnego zamknięcia.",
    L"Gra została zamknięta normalnie.",
    L"Gra nie zamknęła się w wyznaczonym czasie. Wymuszenie zakończenia.",
    L"Nie można zamknąć uruchomionej gry. Zamknij ją ręcznie i ponownie uruchom patcher. Błąd: ",
    L"Nie można zakończyć procesu gry. Zamknij ją ręcznie i ponownie uruchom patcher. Błąd: ",
    L"Gra nadal jest uruchomiona. Zamknij ją ręcznie przed wykonaniem aktualizacji.",
    L"Proces gry został zakończony przed aktualizacją.",
};

}  // namespace

std::wstring GameImageName(const std::wstring& gameExe) {
    const size_t separator = gameExe.find_last_of(L"\\/");
    return separator == std::wstring::npos ? gameExe : gameExe.substr(separator + 1);
}

std::vector<DWORD> FindProcessesByImageName(const std::wstring& imageName) {
    std::vector<DWORD> ids;
    SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    const std::wstring wanted = ToLowerWide(imageName);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (ToLowerWide(entry.szExeFile) == wanted) ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

bool CloseRunningGame(std::wstring& errorText) {
    const std::vector<DWORD> ids = FindProcessesByImageName(GameImageName(Settings.gameExe));
    return ShutdownProcesses(ids, kGamePlan, errorText);
}
