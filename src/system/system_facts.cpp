#include "system/system_facts.h"

#include "system/win_owners.h"

namespace {

// RtlGetVersion is exported by ntdll, which every process has loaded.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

} // namespace

WindowsVersion GetWindowsVersion() {
    WindowsVersion version;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll)
        return version;
    const auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!rtlGetVersion || rtlGetVersion(&info) != 0)
        return version;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    version.productType = info.wProductType;
    return version;
}

Elevation GetProcessElevation() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
        return Elevation::Unknown;
    const UniqueKernelHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return Elevation::Unknown;
    return elevation.TokenIsElevated ? Elevation::Elevated : Elevation::NotElevated;
}
