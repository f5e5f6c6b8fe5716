// The empty program of the fixed-cost figure, except that it imports
// user32.dll (for a call it never makes): under Wine, loading and starting
// user32 is most of what a program that needs it pays before its first line.
// The bootstrapper needs it in every run (string tables, message formatting)
// and shell32.dll (command-line splitting), which loads it too.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (GetTickCount() == 0) // never: the import is the point
        return LoadStringW(nullptr, 0, nullptr, 0);
    return 0;
}
