// The floor of one bootstrap-log write: appends N lines to FILE the way the
// log does each time its stream is flushed (the file opened for writing
// only, shared with every other writer; each write goes to the current end of
// the file, one UTF-16 line at a time).
//
// Usage: qz-bench-log-floor.exe FILE N
// Prints "ms=<all writes> ms_per_line=<each>"; exits with 1 when a write fails.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "system/win_owners.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: qz-bench-log-floor.exe FILE N\n");
        return 2;
    }
    const unsigned long lines = std::wcstoul(argv[2], nullptr, 10);
    const UniqueFileHandle file(CreateFileW(argv[1], GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || lines == 0) {
        std::printf("error: cannot open %ls, or no lines\n", argv[1]);
        return 1;
    }
    const std::wstring line = L"QZSETUP:BOOTSTRAP:INFO:The package C:\\bench\\cycle\\QZ Bench Sample.msi is "
                              L"opened for the installation\r\n";
    const DWORD bytes = static_cast<DWORD>(line.size() * sizeof(wchar_t));
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (unsigned long i = 0; i < lines; ++i) {
        LARGE_INTEGER origin{};
        DWORD written = 0;
        if (!SetFilePointerEx(file.get(), origin, nullptr, FILE_END) ||
            !WriteFile(file.get(), line.data(), bytes, &written, nullptr) || written != bytes) {
            std::printf("error: write %lu failed (%lu)\n", i, GetLastError());
            return 1;
        }
    }
    QueryPerformanceCounter(&end);
    const double ms =
        static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    std::printf("ms=%.3f ms_per_line=%.4f\n", ms, ms / static_cast<double>(lines));
    return 0;
}
