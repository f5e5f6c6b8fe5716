#include "support/patch_writer.h"

#include "msi/database.h"
#include "support/package_builder.h"
#include "support/test_env.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>
#include <objbase.h>

#include <string>
#include <vector>

namespace qztest {
namespace {

struct PatchCase {
    const char* name;
    std::wstring property; // the value QZ_CHANNEL gets from the patch
    std::string content;   // readme.txt after the patch
};

std::wstring SummaryText(MSIHANDLE summary, UINT id) {
    wchar_t buffer[512];
    DWORD size = 512;
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    if (MsiSummaryInfoGetPropertyW(summary, id, &type, &number, &time, buffer, &size) != ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(buffer, size);
}

UINT ApplicableStatus(const std::wstring& package, const std::wstring& patch) {
    MSIPATCHSEQUENCEINFOW info{};
    info.szPatchData = patch.c_str();
    info.ePatchDataType = MSIPATCH_DATATYPE_PATCHFILE;
    const UINT r = MsiDetermineApplicablePatchesW(package.c_str(), 1, &info);
    return r == ERROR_SUCCESS ? info.uStatus : r;
}

// A patch made from two packages is one the installer reads, judges
// applicable to that product alone, and applies on a first installation:
// the new version registered, the patch listed, the changed file on disk,
// and all of it gone with the product.
TEST(PatchWriter, PatchOfTwoPackagesIsAppliedByTheInstaller) {
    const PatchCase cases[] = {
        {"property", L"patched", "installed by a test\r\n"},
        {"file", L"base", "patched content, longer than before\r\n"},
        {"both", L"patched", "x"},
    };
    for (const PatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        PackageSpec base;
        base.productCode = NewGuid();
        base.upgradeCode = NewGuid();
        base.installFolder = L"QZ Patch " + base.productCode.substr(1, 8);
        base.properties = {{L"QZ_CHANNEL", L"base"}};
        BuildPackage(base, dir / L"base.msi");
        PackageSpec upgraded = base;
        upgraded.version = L"1.0.1";
        upgraded.properties = {{L"QZ_CHANNEL", c.property}};
        upgraded.files = {{L"readme.txt", c.content}};
        BuildPackage(upgraded, dir / L"upgraded.msi");
        const PatchResult patch = WritePatch(dir / L"base.msi", dir / L"upgraded.msi", dir / L"update.msp");
        EXPECT_EQ(base.productCode, patch.productCode);

        {
            MsiHandle summary;
            ASSERT_EQ(0u, MsiGetSummaryInformationW(0, (dir / L"update.msp").c_str(), 0, summary.put()));
            EXPECT_EQ(patch.patchCode, SummaryText(summary.get(), PID_REVNUMBER));
            EXPECT_EQ(base.productCode, SummaryText(summary.get(), PID_TEMPLATE));
        }
        PackageSpec other = base;
        other.productCode = NewGuid();
        BuildPackage(other, dir / L"other.msi");
        EXPECT_EQ(0u, ApplicableStatus(dir / L"base.msi", dir / L"update.msp"));
        EXPECT_EQ(static_cast<UINT>(ERROR_PATCH_TARGET_NOT_FOUND),
                  ApplicableStatus(dir / L"other.msi", dir / L"update.msp"));

        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        const std::wstring properties = L"REBOOT=ReallySuppress PATCH=\"" + (dir / L"update.msp") + L"\"";
        ASSERT_EQ(0u, MsiInstallProductW((dir / L"base.msi").c_str(), properties.c_str()));
        EXPECT_EQ(L"1.0.1", ProductInfo(base.productCode, INSTALLPROPERTY_VERSIONSTRING));
        EXPECT_EQ(std::vector<std::wstring>{patch.patchCode}, AppliedPatches(base.productCode));
        const std::wstring installed =
            ProgramFilesFolderFor(base.platform) + L"\\" + base.installFolder + L"\\readme.txt";
        EXPECT_EQ(c.content, ReadFileBytes(installed));

        EXPECT_EQ(0u, RemoveProduct(base.productCode));
        EXPECT_FALSE(IsProductRegistered(base.productCode));
        EXPECT_TRUE(AppliedPatches(base.productCode).empty());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(installed.c_str()));
    }
}

// What a patch cannot carry is refused, and no partial patch is left behind.
TEST(PatchWriter, RefusesPackagesItCannotDiff) {
    TempDir dir;
    PackageSpec base;
    base.productCode = NewGuid();
    base.upgradeCode = NewGuid();
    BuildPackage(base, dir / L"base.msi");
    BuildPackage(base, dir / L"same.msi");
    PackageSpec other = base;
    other.productCode = NewGuid();
    other.version = L"1.0.1";
    BuildPackage(other, dir / L"other.msi");
    EXPECT_THROW(WritePatch(dir / L"base.msi", dir / L"same.msi", dir / L"a.msp"), std::runtime_error);
    EXPECT_THROW(WritePatch(dir / L"base.msi", dir / L"other.msi", dir / L"b.msp"), std::runtime_error);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir / L"a.msp").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((dir / L"b.msp").c_str()));
}

} // namespace
} // namespace qztest
