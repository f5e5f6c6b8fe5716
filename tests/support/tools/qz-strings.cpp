// Prints every string of a module's string tables, one line each:
// "LANGUAGE ID TEXT" (language and id in decimal; CR and LF in the text shown
// as \r and \n), in resource order. The module is loaded as a data file, so a
// 32-bit program can be read from a 64-bit one and the other way round.
// Usage: qz-strings.exe MODULE
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/test_env.h"

namespace {

struct Dump {
    HMODULE module;
    unsigned strings = 0;
};

std::string Escaped(const std::wstring& text) {
    std::string out;
    for (const char c : qztest::ToUtf8(text)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

// One block of 16 strings: each is a length (in characters) and the text.
void PrintBlock(Dump& dump, WORD block, WORD language) {
    const HRSRC found = FindResourceExW(dump.module, RT_STRING, MAKEINTRESOURCEW(block), language);
    if (!found)
        return;
    const HGLOBAL loaded = LoadResource(dump.module, found);
    const auto* data = static_cast<const WCHAR*>(LockResource(loaded));
    if (!data)
        return;
    const DWORD size = SizeofResource(dump.module, found) / sizeof(WCHAR);
    DWORD at = 0;
    for (unsigned n = 0; n < 16 && at < size; ++n) {
        const DWORD length = data[at++];
        if (at + length > size)
            break;
        if (length > 0) {
            const unsigned id = (block - 1u) * 16u + n;
            std::printf("%u %u %s\n", language, id, Escaped(std::wstring(data + at, length)).c_str());
            ++dump.strings;
        }
        at += length;
    }
}

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR context) {
    PrintBlock(*reinterpret_cast<Dump*>(context), static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)),
               language);
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    if (IS_INTRESOURCE(name))
        EnumResourceLanguagesW(module, type, name, OnLanguage, context);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: qz-strings.exe MODULE\n");
        return 2;
    }
    Dump dump{LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    if (!dump.module) {
        std::fprintf(stderr, "cannot load %s: error %lu\n", qztest::ToUtf8(argv[1]).c_str(), GetLastError());
        return 1;
    }
    EnumResourceNamesW(dump.module, RT_STRING, OnName, reinterpret_cast<LONG_PTR>(&dump));
    FreeLibrary(dump.module);
    return dump.strings > 0 ? 0 : 1;
}
