// The version resource of the built qz-setup.exe, read back the way an
// inventory reads it: the fixed numbers, the strings of the 1033/1200
// translation, and the type of every string value (1: text).
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <utility>

#include "qz-version.h"
#include "support/test_env.h"
#include "support/version_info.h"

namespace {

TEST(VersionResourceTest, TheBuiltProgramCarriesTheProjectVersionAndItsNames) {
    const qztest::VersionInfo info = qztest::ReadVersionInfo(qztest::SetupExePath());
    ASSERT_TRUE(info.present) << "no version resource in " << qztest::ToUtf8(qztest::SetupExePath());

    EXPECT_EQ(VS_FFI_SIGNATURE, info.fixed.dwSignature);
    const DWORD high = MAKELONG(QZ_VERSION_MINOR, QZ_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, QZ_VERSION_PATCH);
    EXPECT_EQ(high, info.fixed.dwFileVersionMS);
    EXPECT_EQ(low, info.fixed.dwFileVersionLS);
    EXPECT_EQ(high, info.fixed.dwProductVersionMS);
    EXPECT_EQ(low, info.fixed.dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), info.fixed.dwFileType);

    const std::map<std::wstring, std::wstring> expected = {
        {L"FileVersion", QZ_VERSION_WTEXT},
        {L"ProductVersion", QZ_VERSION_WTEXT},
        {L"FileDescription", L"QZ Setup"},
        {L"ProductName", L"QZ Setup"},
        {L"CompanyName", L"QZ"},
        {L"LegalCopyright", L"Copyright (C) 2026 QZ"},
        {L"InternalName", L"qz-setup"},
        {L"OriginalFilename", L"qz-setup.exe"},
    };
    EXPECT_EQ(expected, info.strings);

    ASSERT_EQ(1u, info.translations.size());
    EXPECT_EQ(1033, info.translations[0].first);
    EXPECT_EQ(1200, info.translations[0].second);

    // Every string value is stored as text: a reader of the raw resource
    // would otherwise take it for bytes.
    int strings = 0;
    for (const auto& [path, type] : info.nodes) {
        if (path.rfind(L"\\VS_VERSION_INFO\\StringFileInfo\\040904B0\\", 0) != 0)
            continue;
        ++strings;
        EXPECT_EQ(1, type) << qztest::ToUtf8(path);
    }
    EXPECT_EQ(static_cast<int>(expected.size()), strings);
}

} // namespace
