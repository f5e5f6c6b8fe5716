// Restricting the DLL search. The test program keeps its own search as it is
// (a process cannot take SetDefaultDllDirectories back): the call on this
// system is shown through the real program, see the bootstrapper's tests.
#include "system/dll_search.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DWORD g_flagsGiven = 0;
BOOL WINAPI Accepting(DWORD flags) {
    g_flagsGiven = flags;
    return TRUE;
}
BOOL WINAPI Refusing(DWORD flags) {
    g_flagsGiven = flags;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

std::wstring DllDirectory() {
    wchar_t buffer[MAX_PATH + 1] = L"?";
    const DWORD length = GetDllDirectoryW(MAX_PATH + 1, buffer);
    return std::wstring(buffer, length);
}

// Gives the process its default DLL directory back.
struct DllDirectoryReset {
    ~DllDirectoryReset() { SetDllDirectoryW(nullptr); }
};

TEST(RestrictDllSearch, AsksForTheSystemDirectoryAloneAndFallsBackToAnEmptyDllDirectory) {
    const DllDirectoryReset reset;
    const struct {
        const char* name;
        SetDefaultDllDirectoriesFunction function;
        DllSearchRestriction expected;
        std::wstring dllDirectory; // afterwards; "C:\\planted" was set before
    } cases[] = {
        {"the system has the function", Accepting, DllSearchRestriction::SystemDirectoryOnly, L"C:\\planted"},
        {"the function refuses", Refusing, DllSearchRestriction::NoCurrentDirectory, L""},
        {"an old system without it", nullptr, DllSearchRestriction::NoCurrentDirectory, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SetDllDirectoryW(L"C:\\planted"));
        g_flagsGiven = 0;
        EXPECT_EQ(RestrictDllSearch(c.function), c.expected);
        if (c.function) {
            EXPECT_EQ(g_flagsGiven, static_cast<DWORD>(0x800)) << "LOAD_LIBRARY_SEARCH_SYSTEM32";
        }
        EXPECT_EQ(DllDirectory(), c.dllDirectory);
    }
}

TEST(RestrictDllSearch, FindsTheFunctionAtRunTimeOnThisSystem) {
    // Looked up, not imported, so the program starts where it is missing.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(GetProcAddress(kernel, "SetDefaultDllDirectories"), nullptr)
        << "this system lacks it: only the fallback can be shown here";
}

} // namespace
