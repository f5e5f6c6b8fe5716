// The floor of locating a package by name: list the folder's packages and
// open each once, reading its ProductName and its Template, until one whose
// product name contains the name has the wanted platform. Only that loop is
// timed (after a warm-up open of another package).
//
// Usage: qz-bench-locate-floor.exe [--warm PACKAGE] DIRECTORY NAME PLATFORM
//        qz-bench-locate-floor.exe --list DIRECTORY   (the packages in listing order)
// Prints "ms=<loop time> candidates=<opened> match=<file name>"; exits with 3
// when no package matches.
#include <cstdio>
#include <string>

#include "floor_common.h"

namespace {

constexpr UINT kTemplate = 7; // PID_TEMPLATE: platform;languages

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Reads both properties of one package; false when it is not a readable package.
bool ReadCandidate(const std::wstring& path, std::wstring& productName, std::wstring& platform) {
    using qzbench::Handle;
    Handle database, view, record, summary;
    if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS)
        return false;
    if (MsiDatabaseOpenViewW(database.get(), L"SELECT `Value` FROM `Property` WHERE `Property`='ProductName'",
                             view.put()) != ERROR_SUCCESS ||
        MsiViewExecute(view.get(), 0) != ERROR_SUCCESS ||
        MsiViewFetch(view.get(), record.put()) != ERROR_SUCCESS)
        return false;
    productName = qzbench::RecordText(record.get(), 1);
    if (MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.put()) != ERROR_SUCCESS)
        return false;
    wchar_t text[256];
    DWORD size = 256;
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    if (MsiSummaryInfoGetPropertyW(summary.get(), kTemplate, &type, &number, &time, text, &size) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring templateText(text, size);
    platform = templateText.substr(0, templateText.find(L';'));
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    std::wstring warm;
    if (i + 1 < argc && std::wstring(argv[i]) == L"--list") {
        for (const auto& name : qzbench::ListFiles(qzbench::WithBackslash(argv[i + 1]) + L"*.msi"))
            std::printf("%s\n", Narrow(name).c_str());
        return 0;
    }
    if (i + 1 < argc && std::wstring(argv[i]) == L"--warm") {
        warm = argv[i + 1];
        i += 2;
    }
    if (argc - i != 3) {
        std::fwprintf(stderr, L"usage: qz-bench-locate-floor.exe [--warm PACKAGE] DIRECTORY NAME PLATFORM\n"
                              L"       qz-bench-locate-floor.exe --list DIRECTORY\n");
        return 2;
    }
    const std::wstring directory = qzbench::WithBackslash(argv[i]);
    const std::wstring name = argv[i + 1];
    const std::wstring wantedPlatform = argv[i + 2];
    if (!warm.empty() && !qzbench::WarmUp(warm)) {
        std::printf("error: cannot read %s\n", Narrow(warm).c_str());
        return 3;
    }

    const qzbench::Stopwatch stopwatch;
    unsigned opened = 0;
    std::wstring match;
    for (const auto& file : qzbench::ListFiles(directory + L"*.msi")) {
        std::wstring productName, platform;
        ++opened;
        if (!ReadCandidate(directory + file, productName, platform)) {
            std::printf("error: %s is not a readable package\n", Narrow(file).c_str());
            return 3;
        }
        if (productName.find(name) != std::wstring::npos && platform == wantedPlatform) {
            match = file;
            break;
        }
    }
    const double ms = stopwatch.Milliseconds();
    std::printf("ms=%.3f candidates=%u match=%s\n", ms, opened, match.empty() ? "-" : Narrow(match).c_str());
    return match.empty() ? 3 : 0;
}
