// Facts about the running system that a plan reports: the Windows version
// and whether this process runs with administrator rights.
#pragma once
#include <windows.h>

struct WindowsVersion {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
    // VER_NT_WORKSTATION, VER_NT_DOMAIN_CONTROLLER or VER_NT_SERVER; 0 when unknown.
    BYTE productType = 0;
};

// The version the system itself reports (RtlGetVersion), whatever the
// program's manifest declares; all zero when it cannot be read.
WindowsVersion GetWindowsVersion();

enum class Elevation { Elevated, NotElevated, Unknown };

// Whether this process's token is elevated (TokenElevation).
Elevation GetProcessElevation();
