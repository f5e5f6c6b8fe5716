// Package properties and platform, read from real installer databases.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <wtypes.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "msi/database.h"
#include "msi/package_properties.h"
#include "support/package_builder.h"
#include "support/test_env.h"

namespace {

using namespace QZ::MSInstaller;

constexpr UINT kTemplate = 7;
constexpr UINT kSubject = 3;
constexpr UINT kPageCount = 14;

struct ScratchPackage {
    const wchar_t* templateText = nullptr; // null: no summary information written
    std::vector<std::pair<std::wstring, std::wstring>> properties;
    std::wstring subject;
};

// Writes an installer database with a Property table and the given summary
// information. Nothing is installed: the readers only open the file.
void WriteScratchPackage(const std::wstring& path, const ScratchPackage& desc) {
    MsiHandle db;
    ASSERT_EQ(0u, MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, db.put()));
    {
        MsiHandle view;
        ASSERT_EQ(0u,
                  MsiDatabaseOpenViewW(db.get(),
                                       L"CREATE TABLE Property (Property CHAR(72) NOT NULL, Value CHAR(0) "
                                       L"NOT NULL LOCALIZABLE PRIMARY KEY Property)",
                                       view.put()));
        ASSERT_EQ(0u, MsiViewExecute(view.get(), 0));
    }
    for (const auto& property : desc.properties) {
        MsiHandle view;
        ASSERT_EQ(0u, MsiDatabaseOpenViewW(db.get(), L"INSERT INTO Property (Property, Value) VALUES (?, ?)",
                                           view.put()));
        MsiHandle record(MsiCreateRecord(2));
        MsiRecordSetStringW(record.get(), 1, property.first.c_str());
        MsiRecordSetStringW(record.get(), 2, property.second.c_str());
        ASSERT_EQ(0u, MsiViewExecute(view.get(), record.get()));
    }
    if (desc.templateText) {
        MsiHandle summary;
        ASSERT_EQ(0u, MsiGetSummaryInformationW(db.get(), nullptr, 20, summary.put()));
        ASSERT_EQ(0u, MsiSummaryInfoSetPropertyW(summary.get(), kTemplate, VT_LPSTR, 0, nullptr,
                                                 desc.templateText));
        ASSERT_EQ(0u, MsiSummaryInfoSetPropertyW(summary.get(), kPageCount, VT_I4, 200, nullptr, nullptr));
        if (!desc.subject.empty()) {
            ASSERT_EQ(0u, MsiSummaryInfoSetPropertyW(summary.get(), kSubject, VT_LPSTR, 0, nullptr,
                                                     desc.subject.c_str()));
        }
        ASSERT_EQ(0u, MsiSummaryInfoPersist(summary.get()));
    }
    ASSERT_EQ(0u, MsiDatabaseCommit(db.get()));
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

class PackagePropertiesTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(0u, MsiCloseAllHandles()) << "installer handles left open"; }

    qztest::TempDir m_dir;
};

TEST_F(PackagePropertiesTest, PlatformFromTheTemplate) {
    const struct {
        const wchar_t* templateText;
        DWORD platform;
    } cases[] = {
        {L"Intel;1033", 0},
        {L"Intel;1033,1031", 0},
        {L"x64;1033", 9},
        {L"Intel64;1033", 6},
        {L"Arm64;1033", 12},
        {L"arm64;1033", PLATFORM_UNRECOGNISED},
        {L"Arm;1033", PLATFORM_UNRECOGNISED},
        {L"Intel", 0},
        {L";1033", PLATFORM_UNRECOGNISED},
        {L";;x64;1033", 9},
        {L"intel;1033", PLATFORM_UNRECOGNISED},
        {L"AMD64;1033", PLATFORM_UNRECOGNISED},
        {L"x64 ;1033", PLATFORM_UNRECOGNISED},
        {L"", PLATFORM_UNRECOGNISED},
        {L";", PLATFORM_UNRECOGNISED},
    };
    ASSERT_NE(0u, PLATFORM_UNRECOGNISED);
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(std::wstring(L"Template \"") + c.templateText + L"\""));
        const std::wstring path = m_dir / (L"platform" + std::to_wstring(++n) + L".msi");
        WriteScratchPackage(path, {c.templateText, {}, {}});
        EXPECT_EQ(c.platform, GetPckgPlatform(0, path));
    }
}

TEST_F(PackagePropertiesTest, SummaryTextFillsTheBufferWithItsTerminator) {
    const std::wstring path = m_dir / L"summary.msi";
    const std::wstring subject = std::wstring(130, L's') + L"!";
    WriteScratchPackage(path, {L"x64;1033", {}, subject});

    smart_buffer<wchar_t, 100> text;
    _GetPckgSummProp(0, path, kSubject, text);
    ASSERT_EQ(subject.size() + 1, text.size());
    EXPECT_EQ(subject, std::wstring(text.data(), subject.size()));
    EXPECT_EQ(L'\0', text.data()[subject.size()]);

    // Through an open database handle instead of the path.
    MsiHandle db;
    ASSERT_EQ(0u, MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, db.put()));
    smart_buffer<wchar_t, 100> fromHandle;
    _GetPckgSummProp(db.get(), L"", kTemplate, fromHandle);
    EXPECT_EQ(std::wstring(L"x64;1033"), fromHandle.data());
    EXPECT_EQ(9u, GetPckgPlatform(db.get(), L""));
}

// A property that is not text, or is not there, fails the read with an error
// that the run cannot mistake for success.
TEST_F(PackagePropertiesTest, SummaryPropertyThatIsNoTextIsAnError) {
    const std::wstring withTemplate = m_dir / L"pages.msi";
    WriteScratchPackage(withTemplate, {L"Intel;1033", {}, {}});
    const std::wstring withoutSummary = m_dir / L"bare.msi";
    WriteScratchPackage(withoutSummary, {nullptr, {}, {}});

    const std::pair<std::wstring, UINT> cases[] = {{withTemplate, kPageCount}, {withoutSummary, kTemplate}};
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.first) + " property " + std::to_string(c.second));
        std::wstringbuf log;
        LogStreamCapture capture(log);
        smart_buffer<wchar_t, 100> text;
        try {
            _GetPckgSummProp(0, c.first, c.second, text);
            ADD_FAILURE() << "no exception";
        } catch (const MSIException&) {
            ADD_FAILURE() << "MSIException";
        } catch (const WinException& e) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_DATATYPE_MISMATCH), e.GetError());
        }
        EXPECT_TRUE(Contains(log.str(), L" Fnc : QZ::MSInstaller::_GetPckgSummProp; Line : 29; "))
            << qztest::ToUtf8(log.str());
    }
}

TEST_F(PackagePropertiesTest, PropertyValues) {
    const std::wstring longValue = std::wstring(100, L'v') + L"-" + std::wstring(60, L'w');
    const std::wstring path = m_dir / L"props.msi";
    WriteScratchPackage(path, {L"Intel;1033",
                               {{L"ProductName", L"QZ Agent"},
                                {L"ProductLanguage", L"1031"},
                                {L"LongValue", longValue},
                                {L"Hundred", std::wstring(100, L'h')}},
                               {}});
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {L"ProductName", L"QZ Agent"},
        {L"ProductLanguage", L"1031"},
        {L"LongValue", longValue},
        {L"Hundred", std::wstring(100, L'h')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.first));
        std::wstring value = L"previous";
        GetPckgProperty(path, c.first, value);
        EXPECT_EQ(c.second, value);
    }
}

TEST_F(PackagePropertiesTest, MissingPropertyRaisesInvalidHandle) {
    const std::wstring path = m_dir / L"props.msi";
    WriteScratchPackage(path, {L"Intel;1033", {{L"ProductName", L"QZ Agent"}}, {}});
    // Names are compared as the installer compares them: exactly.
    for (const wchar_t* name : {L"ProductVersion", L"productname"}) {
        SCOPED_TRACE(qztest::ToUtf8(name));
        std::wstringbuf log;
        LogStreamCapture capture(log);
        std::wstring value = L"kept";
        try {
            GetPckgProperty(path, name, value);
            ADD_FAILURE() << "no exception";
        } catch (const WinException& e) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), e.GetError());
        }
        EXPECT_TRUE(Contains(log.str(), L" Fnc : MsiSQL::SQLView::GetValue; Line : 128; "))
            << qztest::ToUtf8(log.str());
        EXPECT_EQ(L"kept", value);
    }
}

TEST_F(PackagePropertiesTest, FilesThatAreNoDatabaseRaiseInstallerExceptions) {
    const std::wstring text = m_dir / L"notes.msi";
    qztest::WriteFileBytes(text, "This is not an installer database.\r\n");
    const std::wstring empty = m_dir / L"empty.msi";
    qztest::WriteFileBytes(empty, "");
    const std::wstring missing = m_dir / L"missing.msi";

    for (const std::wstring& path : {text, empty, missing}) {
        SCOPED_TRACE(qztest::ToUtf8(path));
        std::wstringbuf log;
        LogStreamCapture capture(log);
        std::wstring value;
        EXPECT_THROW(GetPckgProperty(path, L"ProductName", value), MSIException);
        EXPECT_THROW(GetPckgPlatform(0, path), MSIException);
        smart_buffer<wchar_t, 100> summary;
        EXPECT_THROW(_GetPckgSummProp(0, path, kTemplate, summary), MSIException);
        // The installer's own exception is raised without a log line.
        EXPECT_EQ(L"", log.str());
    }
}

// A package as the package builder makes it, the kind the bootstrapper meets.
TEST_F(PackagePropertiesTest, BuiltPackage) {
    struct Case {
        const wchar_t* platform;
        DWORD expected;
    };
    const Case cases[] = {{L"Intel", 0}, {L"x64", 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.platform));
        qztest::PackageSpec desc;
        desc.productName = L"QZ Agent for Tests";
        desc.platform = c.platform;
        desc.language = 1036;
        const std::wstring description(140, L'd');
        desc.properties = {{L"QZ_DESCRIPTION", description}};
        const std::wstring path = m_dir / (std::wstring(c.platform) + L".msi");
        qztest::BuildPackage(desc, path);

        EXPECT_EQ(c.expected, GetPckgPlatform(0, path));
        std::wstring value;
        GetPckgProperty(path, L"ProductName", value);
        EXPECT_EQ(desc.productName, value);
        GetPckgProperty(path, L"ProductLanguage", value);
        EXPECT_EQ(L"1036", value);
        GetPckgProperty(path, L"QZ_DESCRIPTION", value);
        EXPECT_EQ(description, value);
        GetPckgProperty(path, L"ProductCode", value);
        EXPECT_EQ(38u, value.size());
    }
}

} // namespace
