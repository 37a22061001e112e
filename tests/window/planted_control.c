/* The planted-folder scenario's positive control: an ordinary program that
   loads winhttp.dll by name, in the default search order a static import
   follows too, so a planted copy in its own folder wins. */
#include <windows.h>

int main(void) { return LoadLibraryW(L"winhttp.dll") != NULL ? 0 : 1; }
