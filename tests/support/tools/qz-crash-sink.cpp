// Stands in for Wine's crash debugger while the robustness tests run: Wine
// starts it as "qz-crash-sink.exe PID EVENT" when a process dies of an
// unhandled exception. It records the crash (a file named after the process id
// in crash-reports\ beside this program) and returns at once, so the crashed
// process ends with its exception code, without a dialog or a backtrace.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir.resize(dir.find_last_of(L'\\') + 1);
    dir += L"crash-reports\\";
    CreateDirectoryW(dir.c_str(), nullptr);

    const DWORD pid = static_cast<DWORD>(_wtoi(argv[1]));
    std::wstring image = L"(unknown)";
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        wchar_t name[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, name, &size))
            image.assign(name, size);
        CloseHandle(process);
    }
    const std::wstring report = L"process " + std::to_wstring(pid) + L" crashed: " + image;
    const std::wstring path = dir + std::to_wstring(pid) + L".txt";
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written,
                  nullptr);
        CloseHandle(file);
    }
    return 0;
}
