// The bootstrapper's entry point: a Windows GUI program without a console.
#include <windows.h>

#include "bootstrapper/run_sequence.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return RunBootstrapper();
}
