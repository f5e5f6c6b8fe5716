// The empty program of the fixed-cost figure, with what every qz-setup.exe
// run starts before its first line: the static C++ runtime with its wide
// streams and locale (started by <iostream> in any program that includes it,
// as the bootstrapper does), and the same system DLLs imported, for calls it
// never makes. Built twice: as qz-bench-empty-runtime, and without the
// runtime's streams (QZ_BENCH_IMPORTS_ONLY) as qz-bench-empty-imports. The
// difference of their times is the runtime's start.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#ifndef QZ_BENCH_IMPORTS_ONLY
#include <iostream>
#include <sstream>
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
#ifndef QZ_BENCH_IMPORTS_ONLY
    std::wostringstream text;
    text << 0;
    std::wcout << text.str().substr(1);
#endif
    if (GetTickCount() == 0) { // never: the imports are the point
        int count = 0;
        LocalFree(CommandLineToArgvW(L"", &count));
        CoUninitialize();
        return LoadStringW(nullptr, 0, nullptr, 0);
    }
    return 0;
}
