// The package value: held and opened once, each property read once through
// that one database, and nothing read until it is asked for.
#include "msi/package.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "msi/package_properties.h"
#include "support/package_builder.h"
#include "support/tamper.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

using QZ::MSInstaller::Package;
using QZ::MSInstaller::PckgDatabaseOpenCount;

TEST(Package, OneOpenGivesEveryPropertyAndHoldsTheFile) {
    qztest::TempDir dir;
    qztest::PackageSpec desc;
    desc.productName = L"QZ Package Value";
    desc.productCode = qztest::NewGuid();
    desc.version = L"4.3.2";
    desc.language = 1031;
    desc.platform = L"x64";
    const std::wstring path = dir / L"package.msi";
    qztest::BuildPackage(desc, path);

    const unsigned long opensBefore = PckgDatabaseOpenCount();
    Package package = Package::Open(path);
    EXPECT_TRUE(package.IsOpen());
    EXPECT_EQ(path, package.Path());
    EXPECT_NE(0u, package.Database());
    EXPECT_TRUE(qztest::TryToChange(path).AllShareRefused());
    // Asked twice each: still the one open.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(L"QZ Package Value", package.ProductName());
        EXPECT_EQ(desc.productCode, package.ProductCode());
        EXPECT_EQ(L"4.3.2", package.ProductVersion());
        EXPECT_EQ(L"1031", package.ProductLanguage());
        EXPECT_EQ(static_cast<DWORD>(PROCESSOR_ARCHITECTURE_AMD64), package.Platform());
    }
    EXPECT_EQ(opensBefore + 1, PckgDatabaseOpenCount());

    // Moving the value moves the hold; an empty value holds nothing.
    Package moved = std::move(package);
    EXPECT_TRUE(moved.IsOpen());
    EXPECT_TRUE(qztest::TryToChange(path).AllShareRefused());
    moved = Package();
    EXPECT_FALSE(moved.IsOpen());
    EXPECT_EQ(0u, qztest::TryToChange(path).rename);
}

TEST(Package, APropertyThatCannotBeReadRaisesWhenAskedForEachTime) {
    qztest::TempDir dir;
    const std::wstring path = dir / L"package.msi";
    qztest::BuildPackage(qztest::PackageSpec(), path);
    qztest::ChangePackage(path, L"DELETE FROM `Property` WHERE `Property`='ProductVersion'");

    Package package = Package::Open(path);
    EXPECT_EQ(L"QZ Test Product", package.ProductName());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::wstringbuf log;
        LogStreamCapture capture(log);
        try {
            package.ProductVersion();
            ADD_FAILURE() << "no exception";
        } catch (const WinException& e) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), e.GetError());
        }
        EXPECT_NE(std::wstring::npos, log.str().find(L" Fnc : MsiSQL::SQLView::GetValue; Line : 128; "));
    }
}

TEST(Package, AFileThatIsNoPackageOrCannotBeHeldIsNotOpened) {
    qztest::TempDir dir;
    const std::wstring text = dir / L"text.msi";
    qztest::WriteFileBytes(text, "not an installer database\r\n");
    const std::wstring busy = dir / L"busy.msi";
    qztest::BuildPackage(qztest::PackageSpec(), busy);
    const UniqueFileHandle writer(CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());

    std::wstringbuf log;
    LogStreamCapture capture(log);
    EXPECT_THROW(Package::Open(text), MSIException);
    // Nothing stays held after the failure.
    EXPECT_TRUE(DeleteFileW(text.c_str())) << GetLastError();

    const unsigned long opensBefore = PckgDatabaseOpenCount();
    try {
        Package::Open(busy);
        ADD_FAILURE() << "no exception";
    } catch (const FileHoldFailure& e) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), e.GetError());
        EXPECT_EQ(0u, e.Text().find(L"File " + busy + L" could not be held"));
    }
    EXPECT_EQ(opensBefore, PckgDatabaseOpenCount()) << "refused before the installer reads it";
}

} // namespace
