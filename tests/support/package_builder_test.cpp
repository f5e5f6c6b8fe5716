#include "support/package_builder.h"

#include "support/platform_deviations.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace qztest {
namespace {

// Owner of one installer handle, for reading packages back.
class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (m_handle != 0)
            MsiCloseHandle(m_handle);
    }
    MSIHANDLE get() const { return m_handle; }
    MSIHANDLE* put() { return &m_handle; }

private:
    MSIHANDLE m_handle = 0;
};

// Removes the product at the end of a test, whatever the test's outcome.
class ProductGuard {
public:
    explicit ProductGuard(std::wstring code) : m_code(std::move(code)) {}
    ProductGuard(const ProductGuard&) = delete;
    ProductGuard& operator=(const ProductGuard&) = delete;
    ~ProductGuard() { RemoveProduct(m_code); }

private:
    std::wstring m_code;
};

// Quiet installations; the previous level comes back afterwards.
class QuietUi {
public:
    QuietUi() : m_level(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr)) {}
    QuietUi(const QuietUi&) = delete;
    QuietUi& operator=(const QuietUi&) = delete;
    ~QuietUi() { MsiSetInternalUI(m_level, nullptr); }

private:
    INSTALLUILEVEL m_level;
};

// Collects the installer's error messages through an external handler.
class ErrorCollector {
public:
    ErrorCollector() { MsiSetExternalUIW(&ErrorCollector::Handler, INSTALLLOGMODE_ERROR, this); }
    ErrorCollector(const ErrorCollector&) = delete;
    ErrorCollector& operator=(const ErrorCollector&) = delete;
    ~ErrorCollector() { MsiSetExternalUIW(nullptr, 0, nullptr); }
    const std::vector<std::wstring>& messages() const { return m_messages; }

private:
    static int WINAPI Handler(LPVOID context, UINT type, LPCWSTR message) noexcept {
        try {
            auto* self = static_cast<ErrorCollector*>(context);
            if ((type & 0xFF000000u) == INSTALLMESSAGE_ERROR)
                self->m_messages.push_back(message ? message : L"");
        } catch (...) {
        }
        return 0;
    }
    std::vector<std::wstring> m_messages;
};

std::wstring SummaryText(MSIHANDLE database, UINT property) {
    Handle summary;
    EXPECT_EQ(0u, MsiGetSummaryInformationW(database, nullptr, 0, summary.put()));
    wchar_t buffer[512] = L"";
    DWORD length = 512;
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    EXPECT_EQ(0u,
              MsiSummaryInfoGetPropertyW(summary.get(), property, &type, &number, &time, buffer, &length));
    return std::wstring(buffer, length);
}

// The Property table value, or "<none>" when the package has no such row.
std::wstring PropertyOf(MSIHANDLE database, const std::wstring& name) {
    Handle view;
    const std::wstring query = L"SELECT `Value` FROM `Property` WHERE `Property`='" + name + L"'";
    EXPECT_EQ(0u, MsiDatabaseOpenViewW(database, query.c_str(), view.put()));
    EXPECT_EQ(0u, MsiViewExecute(view.get(), 0));
    Handle row;
    if (MsiViewFetch(view.get(), row.put()) != ERROR_SUCCESS)
        return L"<none>";
    wchar_t buffer[1024] = L"";
    DWORD length = 1024;
    EXPECT_EQ(0u, MsiRecordGetStringW(row.get(), 1, buffer, &length));
    return std::wstring(buffer, length);
}

std::wstring UniqueFolder(const wchar_t* stem) {
    return stem + std::wstring(L" ") + NewGuid().substr(1, 8);
}

TEST(PackageBuilder, NewGuidIsFreshAndInRegistryForm) {
    const std::wstring a = NewGuid();
    const std::wstring b = NewGuid();
    EXPECT_NE(a, b);
    ASSERT_EQ(38u, a.size());
    EXPECT_EQ(L'{', a.front());
    EXPECT_EQ(L'}', a.back());
    for (size_t dash : {9u, 14u, 19u, 24u})
        EXPECT_EQ(L'-', a[dash]) << dash;
}

TEST(PackageBuilder, ProgramFilesFolderFollowsThePlatform) {
    wchar_t native[MAX_PATH] = L"";
    wchar_t x86[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH);
    GetEnvironmentVariableW(L"ProgramFiles(x86)", x86, MAX_PATH);
    ASSERT_NE(L'\0', native[0]) << "a 64-bit Windows (or prefix) is expected";
    EXPECT_EQ(std::wstring(native), ProgramFilesFolderFor(L"x64"));
    EXPECT_EQ(std::wstring(x86), ProgramFilesFolderFor(L"Intel"));
    EXPECT_EQ(std::wstring(x86), ProgramFilesFolderFor(L"Intel64"));
    EXPECT_NE(ProgramFilesFolderFor(L"x64"), ProgramFilesFolderFor(L"Intel"));
}

// What is written comes back through the installer's own database functions.
TEST(PackageBuilder, PackageHoldsTheGivenSummaryPropertiesAndTables) {
    TempDir dir;
    const std::wstring longValue(150, L'v');
    struct Case {
        const wchar_t* platform;
        const wchar_t* templateText;
        unsigned language;
        bool errorTable;
        int failWithError;
        const wchar_t* expectedTemplate;
    } cases[] = {
        {L"Intel", L"", 1033, true, 0, L"Intel;1033"},
        {L"x64", L"", 1031, false, 0, L"x64;1031"},
        {L"Intel", L";1033", 1036, true, 25000, L";1033"},
        {L"Intel64", L"", 1041, true, 0, L"Intel64;1041"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.expectedTemplate));
        PackageSpec desc;
        desc.productName = L"QZ Pr\u00fcfprodukt";
        desc.version = L"2.3.4";
        desc.productCode = NewGuid();
        desc.packageCode = NewGuid();
        desc.upgradeCode = NewGuid();
        desc.manufacturer = L"QZ Makers";
        desc.platform = c.platform;
        desc.templateText = c.templateText;
        desc.language = c.language;
        desc.errorTable = c.errorTable;
        desc.errors = {{25000, L"Custom failure: [2] (code [3])"}, {1722, L"Error [1]. [2]"}};
        desc.properties = {{L"QZ_EXTRA", L"extra value"}, {L"QZ_LONG", longValue}, {L"ALLUSERS", L"2"}};
        desc.failWithError = c.failWithError;
        const std::wstring path =
            dir / (std::wstring(c.platform) + std::to_wstring(c.failWithError) + L".msi");
        ASSERT_NO_THROW(BuildPackage(desc, path));

        Handle db;
        ASSERT_EQ(0u, MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, db.put()));
        EXPECT_EQ(c.expectedTemplate, SummaryText(db.get(), PID_TEMPLATE));
        EXPECT_EQ(desc.packageCode, SummaryText(db.get(), PID_REVNUMBER));
        EXPECT_EQ(desc.productName, PropertyOf(db.get(), L"ProductName"));
        EXPECT_EQ(L"2.3.4", PropertyOf(db.get(), L"ProductVersion"));
        EXPECT_EQ(desc.productCode, PropertyOf(db.get(), L"ProductCode"));
        EXPECT_EQ(desc.upgradeCode, PropertyOf(db.get(), L"UpgradeCode"));
        EXPECT_EQ(std::to_wstring(c.language), PropertyOf(db.get(), L"ProductLanguage"));
        EXPECT_EQ(L"QZ Makers", PropertyOf(db.get(), L"Manufacturer"));
        EXPECT_EQ(L"extra value", PropertyOf(db.get(), L"QZ_EXTRA"));
        EXPECT_EQ(longValue, PropertyOf(db.get(), L"QZ_LONG"));
        EXPECT_EQ(L"2", PropertyOf(db.get(), L"ALLUSERS")) << "an extra property replaces a built-in one";

        // errorTable=false leaves the table out even though rows were given.
        EXPECT_EQ(c.errorTable ? MSICONDITION_TRUE : MSICONDITION_NONE,
                  MsiDatabaseIsTablePersistentW(db.get(), L"Error"));
        if (!c.errorTable) {
            Handle view;
            EXPECT_NE(0u,
                      MsiDatabaseOpenViewW(db.get(), L"SELECT `Error`, `Message` FROM `Error`", view.put()));
        }
        if (c.errorTable) {
            Handle view;
            ASSERT_EQ(0u, MsiDatabaseOpenViewW(db.get(), L"SELECT `Message` FROM `Error` WHERE `Error`=25000",
                                               view.put()));
            ASSERT_EQ(0u, MsiViewExecute(view.get(), 0));
            Handle row;
            ASSERT_EQ(0u, MsiViewFetch(view.get(), row.put()));
            wchar_t buffer[128] = L"";
            DWORD length = 128;
            ASSERT_EQ(0u, MsiRecordGetStringW(row.get(), 1, buffer, &length));
            EXPECT_STREQ(L"Custom failure: [2] (code [3])", buffer);
        }
        EXPECT_EQ(c.failWithError ? MSICONDITION_TRUE : MSICONDITION_NONE,
                  MsiDatabaseIsTablePersistentW(db.get(), L"CustomAction"));
    }
}

TEST(PackageBuilder, ABadPathIsReportedAsAnException) {
    TempDir dir;
    EXPECT_THROW(BuildPackage(PackageSpec{}, dir / L"missing\\folder\\p.msi"), std::runtime_error);
}

// Real installations with Wine's or Windows' msi.dll: the files land in the
// program-files folder of the package's platform and go again on removal.
TEST(PackageBuilder, PackagesInstallIntoTheirProgramFilesFolderAndUninstall) {
    TempDir dir;
    QuietUi quiet;
    struct Case {
        const wchar_t* platform;
        unsigned language;
    } cases[] = {{L"Intel", 1031}, {L"x64", 1033}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.platform));
        PackageSpec desc;
        desc.productName = std::wstring(L"QZ Builder Test ") + c.platform;
        desc.platform = c.platform;
        desc.language = c.language;
        desc.installFolder = UniqueFolder(L"QZ Builder");
        desc.files = {{L"readme.txt", "installed by a test\r\n"},
                      {L"data file.bin", std::string(70000, '\x5a') + std::string("\0end", 4)}};
        desc.productCode = NewGuid();
        const std::wstring path = dir / (std::wstring(c.platform) + L".msi");
        ASSERT_NO_THROW(BuildPackage(desc, path));
        ProductGuard guard(desc.productCode);

        const std::wstring folder = ProgramFilesFolderFor(c.platform) + L"\\" + desc.installFolder + L"\\";
        const std::wstring other =
            ProgramFilesFolderFor(c.platform == std::wstring(L"x64") ? L"Intel" : L"x64") + L"\\" +
            desc.installFolder + L"\\";
        ASSERT_FALSE(IsProductRegistered(desc.productCode));

        ASSERT_EQ(0u, MsiInstallProductW(path.c_str(), L""));
        EXPECT_TRUE(IsProductRegistered(desc.productCode));
        EXPECT_EQ(desc.productName, ProductInfo(desc.productCode, L"ProductName"));
        EXPECT_EQ(std::to_wstring(c.language), ProductInfo(desc.productCode, L"Language"));
        EXPECT_EQ(L"1.0.0", ProductInfo(desc.productCode, L"VersionString"));
        ASSERT_TRUE(PathExists(folder + L"readme.txt")) << ToUtf8(folder);
        EXPECT_EQ(desc.files[0].content, ReadFileBytes(folder + L"readme.txt"));
        EXPECT_EQ(desc.files[1].content, ReadFileBytes(folder + L"data file.bin"));
        EXPECT_FALSE(PathExists(other + L"readme.txt")) << ToUtf8(other);

        EXPECT_EQ(0u, RemoveProduct(desc.productCode));
        EXPECT_FALSE(IsProductRegistered(desc.productCode));
        EXPECT_EQ(L"", ProductInfo(desc.productCode, L"ProductName"));
        EXPECT_FALSE(PathExists(folder + L"readme.txt"));
        EXPECT_FALSE(PathExists(folder + L"data file.bin"));
        EXPECT_EQ(static_cast<UINT>(ERROR_UNKNOWN_PRODUCT), RemoveProduct(desc.productCode));
    }
}

// The failing custom action reaches an external handler with the text formatted
// from the Error table, and the installation fails without leaving anything behind.
// The "Error [1]. " prefix is the Error table's row 1; without that row the
// installer's own prefix, or none (a deviation of the platform).
TEST(PackageBuilder, FailingPackageReportsItsErrorAndFailsWith1603) {
    TempDir dir;
    QuietUi quiet;
    struct Case {
        bool prefixRow;
        const wchar_t* expected;
    } cases[] = {
        {true, L"Error 25000. Custom failure: disk on fire (code 42)"},
        {false, L"Custom failure: disk on fire (code 42)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefixRow ? "with row 1" : "without row 1");
        PackageSpec desc;
        desc.productName = L"QZ Builder Failing";
        desc.installFolder = UniqueFolder(L"QZ Builder Failing");
        desc.productCode = NewGuid();
        desc.errors = {{1722, L"Error [1]. [2]"}, {25000, L"Custom failure: [2] (code [3])"}};
        if (c.prefixRow)
            desc.errors.emplace_back(1, L"Error [1]. ");
        desc.failWithError = 25000;
        desc.failArguments = {L"disk on fire", L"42"};
        const std::wstring path = dir / (c.prefixRow ? L"failing1.msi" : L"failing2.msi");
        ASSERT_NO_THROW(BuildPackage(desc, path));
        ProductGuard guard(desc.productCode);

        ErrorCollector errors;
        EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), MsiInstallProductW(path.c_str(), L""));
        ASSERT_EQ(1u, errors.messages().size());
        const std::wstring& message = errors.messages().front();
        if (c.prefixRow) {
            EXPECT_EQ(c.expected, message);
        } else {
            const std::wstring prefix = Deviates(Deviation::ErrorTableWithoutRowOne) ? L"" : L"Error 25000. ";
            EXPECT_EQ(prefix + c.expected, message) << Describe(Deviation::ErrorTableWithoutRowOne);
        }
        EXPECT_FALSE(IsProductRegistered(desc.productCode));
        EXPECT_FALSE(
            PathExists(ProgramFilesFolderFor(L"Intel") + L"\\" + desc.installFolder + L"\\readme.txt"));
    }
}

// Empty arguments and an error without arguments are passed on as empty fields.
TEST(PackageBuilder, FailingPackageWithEmptyArguments) {
    TempDir dir;
    QuietUi quiet;
    PackageSpec desc;
    desc.installFolder = UniqueFolder(L"QZ Builder Failing");
    desc.productCode = NewGuid();
    desc.errors = {{1, L"Error [1]. "}, {25001, L"first=<[2]> second=<[3]>"}};
    desc.failWithError = 25001;
    desc.failArguments = {L"", L"b"};
    const std::wstring path = dir / L"failing.msi";
    ASSERT_NO_THROW(BuildPackage(desc, path));
    ProductGuard guard(desc.productCode);

    ErrorCollector errors;
    EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), MsiInstallProductW(path.c_str(), L""));
    ASSERT_EQ(1u, errors.messages().size());
    EXPECT_EQ(L"Error 25001. first=<> second=<b>", errors.messages().front());
}

} // namespace
} // namespace qztest
