#include "planning/install_plan.h"

#include <msi.h>

namespace {

constexpr DWORD LOG_MODE_BASE = 0xD7;
constexpr DWORD LOG_MODE_TRACE = 0xBDF;
constexpr DWORD LOG_MODE_VERBOSE_BITS = 0x3400;

struct LogLetter {
    DWORD bit;
    wchar_t letter;
};

// msiexec's letters, in the order of its documentation.
const LogLetter g_logLetters[] = {
    {INSTALLLOGMODE_INFO, L'i'},           {INSTALLLOGMODE_WARNING, L'w'},
    {INSTALLLOGMODE_ERROR, L'e'},          {INSTALLLOGMODE_ACTIONSTART, L'a'},
    {INSTALLLOGMODE_ACTIONDATA, L'r'},     {INSTALLLOGMODE_USER, L'u'},
    {INSTALLLOGMODE_COMMONDATA, L'c'},     {INSTALLLOGMODE_FATALEXIT, L'm'},
    {INSTALLLOGMODE_OUTOFDISKSPACE, L'o'}, {INSTALLLOGMODE_PROPERTYDUMP, L'p'},
    {INSTALLLOGMODE_VERBOSE, L'v'},        {INSTALLLOGMODE_EXTRADEBUG, L'x'},
};

// A path in double quotes, as msiexec reads its arguments.
std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

} // namespace

const char* OperationName(InstallOperation operation) {
    switch (operation) {
    case InstallOperation::Repair:
        return "repair";
    case InstallOperation::Remove:
        return "remove";
    case InstallOperation::Install:
        break;
    }
    return "install";
}

DWORD InstallerLogMode(bool trace, bool verbose) {
    DWORD mode = trace ? LOG_MODE_TRACE : LOG_MODE_BASE;
    if (verbose)
        mode |= LOG_MODE_VERBOSE_BITS;
    return mode;
}

std::wstring LogModeLetters(DWORD mode) {
    std::wstring letters;
    for (const LogLetter& letter : g_logLetters)
        if (mode & letter.bit)
            letters += letter.letter;
    return letters;
}

std::wstring MsiexecCommandLine(const std::wstring& package, const std::wstring& properties, bool silent,
                                DWORD logMode, const std::wstring& logFile) {
    std::wstring command = L"msiexec.exe /i " + Quoted(package) + properties;
    command += silent ? L" /qn" : L" /qf";
    if (!logFile.empty())
        command += L" /l" + LogModeLetters(logMode) + L"+ " + Quoted(logFile);
    return command;
}
