// A program's version resource, read the way an inventory reads it
// (GetFileVersionInfoW and VerQueryValueW): shared by the version tests and
// the tool that prints it for the scripts.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qztest {

struct VersionInfo {
    bool present = false;
    VS_FIXEDFILEINFO fixed{};
    // Translations as (language, code page).
    std::vector<std::pair<WORD, WORD>> translations;
    // The strings of the 1033/1200 translation ("040904B0"), by name.
    std::map<std::wstring, std::wstring> strings;
    // Key path and type (0 binary, 1 text) of every node of the raw tree,
    // e.g. "\VS_VERSION_INFO\StringFileInfo\040904B0\FileVersion".
    std::vector<std::pair<std::wstring, WORD>> nodes;
};

VersionInfo ReadVersionInfo(const std::wstring& file);

} // namespace qztest
