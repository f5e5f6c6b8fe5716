// The Windows version and the elevation that a plan reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "system/system_facts.h"

namespace {

std::wstring RegistryText(const wchar_t* name) {
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", name,
                     RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

// The version is the system's own, not the one a manifest lets a program
// see: its build number is the one the registry keeps.
TEST(WindowsVersion, TheSystemsOwnBuild) {
    const WindowsVersion version = GetWindowsVersion();
    EXPECT_GE(version.major, 6u);
    const std::wstring build = RegistryText(L"CurrentBuildNumber");
    ASSERT_FALSE(build.empty());
    EXPECT_EQ(build, std::to_wstring(version.build));
    EXPECT_TRUE(version.productType == VER_NT_WORKSTATION || version.productType == VER_NT_SERVER ||
                version.productType == VER_NT_DOMAIN_CONTROLLER)
        << static_cast<int>(version.productType);
}

// Wine gives every process an elevated token.
TEST(ProcessElevation, ElevatedUnderWine) {
    EXPECT_EQ(Elevation::Elevated, GetProcessElevation());
}

} // namespace
