// The bootstrapper's entry point: a Windows GUI program without a console.
#include <windows.h>

#include "bootstrapper/run_sequence.h"
#include "system/dll_search.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL by bare name from the executable's folder.
    RestrictDllSearch();
    return RunBootstrapper();
}
