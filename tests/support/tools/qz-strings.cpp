// Prints every string of a module's string tables, one line each:
// "LANGUAGE ID TEXT" (language and id in decimal; CR and LF in the text shown
// as \r and \n), by language, then id. The module is loaded as a data file, so a
// 32-bit program can be read from a 64-bit one and the other way round.
// Usage: qz-strings.exe MODULE
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "rsc/string_tables.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

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

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: qz-strings.exe MODULE\n");
        return 2;
    }
    const UniqueModule module(LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module.valid()) {
        std::fprintf(stderr, "cannot load %s: error %lu\n", qztest::ToUtf8(argv[1]).c_str(), GetLastError());
        return 1;
    }
    const std::vector<TableMessage> messages = ReadStringTables(module.get());
    for (const TableMessage& message : messages)
        std::printf("%u %u %s\n", message.language, message.id, Escaped(message.text).c_str());
    return messages.empty() ? 1 : 0;
}
