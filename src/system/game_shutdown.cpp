#include "system/game_shutdown.h"

#include "common/app_paths.h"
#include "common/text.h"
#include "config/settings.h"
#include "system/process_shutdown.h"

namespace {

constexpr ShutdownPlan kGamePlan{
    .graceMs = 8000,
    .askLog = L"Wykryto uruchomioną grę. Próba normalnego zamknięcia.",
    .closedLog = L"Gra została zamknięta normalnie.",
    .timeoutLog = L"Gra nie zamknęła się w wyznaczonym czasie. Wymuszenie zakończenia.",
    .openFailedText =
        L"Nie można zamknąć uruchomionej gry. Zamknij ją ręcznie i ponownie uruchom patcher. Błąd: ",
    .terminateFailedText =
        L"Nie można zakończyć procesu gry. Zamknij ją ręcznie i ponownie uruchom patcher. Błąd: ",
    .stillRunningText = L"Gra nadal jest uruchomiona. Zamknij ją ręcznie przed wykonaniem aktualizacji.",
    .forcedLog = L"Proces gry został zakończony przed aktualizacją.",
};

}  // namespace

std::wstring GameImageName(const std::wstring& gameExe) { return FileNamePart(gameExe); }

std::vector<DWORD> FindProcessesByImageName(const std::wstring& imageName) {
    std::vector<DWORD> ids;
    const std::wstring wanted = ToLowerWide(imageName);
    for (const RunningProcess& process : SnapshotProcesses()) {
        if (ToLowerWide(process.exeFile) == wanted) ids.push_back(process.id);
    }
    return ids;
}

bool CloseRunningGame(std::wstring& errorText) {
    const std::vector<DWORD> ids = FindProcessesByImageName(GameImageName(Settings.gameExe));
    return ShutdownProcesses(ids, kGamePlan, errorText);
}
