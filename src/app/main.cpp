#include "common/app_paths.h"
#include "common/win_compat.h"

// Program entry. The window and the update run are wired in here as they land;
// for now the program only establishes its own location.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return InitAppPathsFromModule() ? 0 : 1;
}
