// The smallest Windows GUI program, built like qz-setup.exe: the floor of a
// bootstrapper run that ends before any installer work.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
