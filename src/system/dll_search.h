// Where the process looks for DLLs that are loaded by bare name.
#pragma once
#include <windows.h>

#include <string>

// How the search was restricted.
enum class DllSearchRestriction {
    SystemDirectoryOnly, // the default directories: the system directory alone
    NoCurrentDirectory,  // older systems: the DLL directory set to "" (no current directory)
    Unchanged,           // neither call worked
};

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// Takes the executable's folder (often the downloads folder of an elevated
// program) and the current directory out of the search for every DLL that
// the process, or a system component inside it, loads by bare name later:
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), or where the system
// lacks it, SetDllDirectoryW(L""). Called first thing in the process.
DllSearchRestriction RestrictDllSearch();

// The same with the function given (null: as on a system that lacks it).
DllSearchRestriction RestrictDllSearch(SetDefaultDllDirectoriesFunction setDefaultDllDirectories);

// The full path of `name` in the system directory, for a DLL the program
// loads itself (never one that lies beside the executable or in the current
// directory); false, with the system's error, when the directory cannot be had.
bool SystemLibraryPath(const wchar_t* name, std::wstring& path, DWORD& error);

// Points `slot` at the function `name` of `module`; false when the module has none.
template <class Function> bool BindFunction(HMODULE module, Function& slot, const char* name) {
    slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return slot != nullptr;
}
