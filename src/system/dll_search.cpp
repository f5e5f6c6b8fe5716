#include "system/dll_search.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

DllSearchRestriction RestrictDllSearch() {
    // Looked up rather than imported: systems without the function must still start.
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories = nullptr;
    if (const HMODULE kernel = GetModuleHandleW(L"kernel32.dll"))
        setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    return RestrictDllSearch(setDefaultDllDirectories);
}

DllSearchRestriction RestrictDllSearch(SetDefaultDllDirectoriesFunction setDefaultDllDirectories) {
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return DllSearchRestriction::SystemDirectoryOnly;
    if (SetDllDirectoryW(L""))
        return DllSearchRestriction::NoCurrentDirectory;
    return DllSearchRestriction::Unchanged;
}

bool SystemLibraryPath(const wchar_t* name, std::wstring& path, DWORD& error) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_BUFFER_OVERFLOW);
        return false;
    }
    path = std::wstring(system, length) + L"\\" + name;
    return true;
}
