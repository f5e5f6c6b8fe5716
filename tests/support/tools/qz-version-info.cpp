// Prints a program's version resource for the scripts, one line each:
// "fixed FILE-VERSION PRODUCT-VERSION" (four parts each), "translation
// LANGUAGE CODEPAGE", then "NAME=VALUE" for each string, and "type NAME N"
// for each string whose raw type is not 1 (text).
// Usage: qz-version-info.exe FILE
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "support/test_env.h"
#include "support/version_info.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: qz-version-info.exe FILE\n");
        return 2;
    }
    const qztest::VersionInfo info = qztest::ReadVersionInfo(argv[1]);
    if (!info.present) {
        std::fprintf(stderr, "no version resource in %s\n", qztest::ToUtf8(argv[1]).c_str());
        return 1;
    }
    const VS_FIXEDFILEINFO& f = info.fixed;
    std::printf("fixed %u.%u.%u.%u %u.%u.%u.%u\n", HIWORD(f.dwFileVersionMS), LOWORD(f.dwFileVersionMS),
                HIWORD(f.dwFileVersionLS), LOWORD(f.dwFileVersionLS), HIWORD(f.dwProductVersionMS),
                LOWORD(f.dwProductVersionMS), HIWORD(f.dwProductVersionLS), LOWORD(f.dwProductVersionLS));
    for (const auto& [language, codePage] : info.translations)
        std::printf("translation %u %u\n", language, codePage);
    for (const auto& [name, value] : info.strings)
        std::printf("%s=%s\n", qztest::ToUtf8(name).c_str(), qztest::ToUtf8(value).c_str());
    for (const auto& [path, type] : info.nodes) {
        // String values lie four levels down: VS_VERSION_INFO, StringFileInfo, a table, the string.
        const bool stringValue = path.rfind(L"\\VS_VERSION_INFO\\StringFileInfo\\", 0) == 0 &&
                                 std::count(path.begin(), path.end(), L'\\') == 4;
        if (stringValue && type != 1)
            std::printf("type %s %u\n", qztest::ToUtf8(path).c_str(), type);
    }
    return 0;
}
