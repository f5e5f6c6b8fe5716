// A transform the run is to install with that it cannot use ends the run
// before the installer, naming the file: the installer would otherwise go on
// without it and report success.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/package_builder.h"
#include "support/platform_deviations.h"
#include "support/plan_reader.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

using namespace qztest;

namespace {

constexpr DWORD kTransformFailure = 1624; // ERROR_INSTALL_TRANSFORM_FAILURE

// Removes the product however the test ends.
class ProductGuard {
public:
    explicit ProductGuard(std::wstring productCode) : m_productCode(std::move(productCode)) {}
    ~ProductGuard() { RemoveProduct(m_productCode); }
    ProductGuard(const ProductGuard&) = delete;
    ProductGuard& operator=(const ProductGuard&) = delete;

private:
    std::wstring m_productCode;
};

// The exit file's lines, without their CR LF.
std::vector<std::string> ExitFileLines(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= bytes.size()) {
        std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The first line of message 162 for the transform and the package.
std::string NotUsable(const std::wstring& transform, const std::wstring& package) {
    return "Transform " + ToUtf8(transform) + " cannot be used with package " + ToUtf8(package) +
           ", so nothing is installed.";
}

class GivenTransformTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_product.productCode = NewGuid();
        m_product.productName = L"QZ Transform Test " + m_product.productCode.substr(1, 8);
        m_product.installFolder = m_product.productName;
        BuildPackage(m_product, m_dir / L"package.msi");
        InstallSetupExe(m_dir.path());
    }

    TempDir m_dir;
    PackageSpec m_product;
};

TEST_F(GivenTransformTest, ATransformThatCannotBeUsedEndsTheRunBeforeTheInstaller) {
    // Files that do not apply to the package as transforms: text, and another
    // package. (Wine's installer applies a transform's rows whatever they
    // meet, so one made from another package applies here; Windows refuses
    // the rows it cannot apply.)
    WriteFileBytes(m_dir / L"text.mst", "not a transform\r\n");
    PackageSpec other;
    other.productCode = NewGuid();
    BuildPackage(other, m_dir / L"other.msi");
    WriteLanguageTransform(m_dir / L"fits.mst", 1036);
    const ProductGuard guard(m_product.productCode);
    const std::wstring package = m_dir / L"package.msi";

    const struct {
        const char* what;
        std::wstring setting; // QZ_SETUP_LANG_TRANSFORM
        std::wstring named;   // the file the message names
        std::wstring mode;
    } cases[] = {
        {"a relative name of no file", L"missing-de.mst", m_dir / L"missing-de.mst", L"UNATTENDED"},
        {"a full path of no file", m_dir / L"gone\\de.mst", m_dir / L"gone\\de.mst", L"UNATTENDED"},
        {"the second of a list", L"fits.mst;missing-de.mst", m_dir / L"missing-de.mst", L"UNATTENDED"},
        {"a folder", L"gone", m_dir / L"gone", L"UNATTENDED"},
        {"a removal too", L"missing-de.mst", m_dir / L"missing-de.mst", L"UNATTENDED_UNINSTALL"},
        {"a text file", L"text.mst", m_dir / L"text.mst", L"UNATTENDED"},
        {"another package", m_dir / L"other.msi", m_dir / L"other.msi", L"UNATTENDED"},
    };
    ASSERT_TRUE(CreateDirectoryW((m_dir / L"gone").c_str(), nullptr));
    for (const auto& c : cases) {
        for (const bool installerCodes : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (installerCodes ? ", INSTALLER" : ", default codes"));
            DeleteFileW((m_dir / L"exit.txt").c_str());
            std::vector<std::wstring> arguments = {L"/f",
                                                   L"package.msi",
                                                   L"/l",
                                                   L"run.log",
                                                   L"/e",
                                                   L"exit.txt",
                                                   L"QZ_SETUP_MODE=" + c.mode,
                                                   L"QZ_SETUP_LANG_TRANSFORM=" + c.setting};
            if (installerCodes)
                arguments.push_back(L"QZ_SETUP_EXIT_CODE=INSTALLER");
            const SetupRun run = RunSetup(m_dir.path(), arguments);
            ASSERT_FALSE(run.timedOut);
            EXPECT_EQ(installerCodes ? kTransformFailure : 1u, run.exitCode);
            EXPECT_TRUE(run.dialogs.empty());
            const std::vector<std::string> lines = ExitFileLines(m_dir / L"exit.txt");
            ASSERT_GE(lines.size(), 3u);
            EXPECT_EQ("1624", lines[0]);
            EXPECT_EQ("1624", lines[1]);
            EXPECT_EQ(NotUsable(c.named, package), lines[2]);
            EXPECT_FALSE(IsProductRegistered(m_product.productCode)) << "nothing is installed";
            EXPECT_FALSE(PathExists(m_dir / L"run.log")) << "the run ended before its log";
        }
    }

    // The control: a transform that fits installs, as before.
    const SetupRun run = RunSetup(m_dir.path(), {L"/f", L"package.msi", L"/l", L"run.log", L"/e", L"exit.txt",
                                                 L"QZ_SETUP_LANG_TRANSFORM=fits.mst"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(L"1036", ProductInfo(m_product.productCode, L"Language"));
}

// A plan says so, and installs nothing.
TEST_F(GivenTransformTest, APlanSaysTheRunWouldEndWithTheTransform) {
    const ProductGuard guard(m_product.productCode);
    const SetupRun run =
        RunSetup(m_dir.path(), {L"/f", L"package.msi", L"/e", L"exit.txt",
                                L"QZ_SETUP_LANG_TRANSFORM=missing-de.mst", L"QZ_SETUP_PLAN=plan.json"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
    const PlanJson plan = ReadPlan(m_dir / L"plan.json");
    const PlanJson& end = plan["end"];
    EXPECT_EQ("would end before the installer", end["outcome"]);
    EXPECT_EQ(IDS_TRANSFORM_NOT_USABLE, end["message"]["id"]);
    const std::string text = end["message"]["text"];
    EXPECT_EQ(0u, text.find(NotUsable(m_dir / L"missing-de.mst", m_dir / L"package.msi")));
    EXPECT_EQ(1624, end["resultCode"]);
    EXPECT_EQ(1, end["exitCode"]);
    EXPECT_EQ(1624, end["installerExitCode"]);
    EXPECT_TRUE(plan["operation"].is_null()) << "no installer call is planned";
    EXPECT_TRUE(UndocumentedPlanFields(plan).empty());
    EXPECT_FALSE(IsProductRegistered(m_product.productCode));
}

// A file of the transform folder that is no transform ends an attended first
// installation (the folder is read for the language dialog) with the
// installer's error, and the message names the file.
TEST_F(GivenTransformTest, ADamagedTransformBesideTheProgramIsNamed) {
    const ProductGuard guard(m_product.productCode);
    WriteFileBytes(m_dir / L"damaged.mst", "not a transform\r\n");
    for (const bool installerCodes : {false, true}) {
        SCOPED_TRACE(installerCodes ? "INSTALLER" : "default codes");
        std::vector<std::wstring> arguments = {L"/f", L"package.msi", L"/e", L"exit.txt",
                                               L"QZ_SETUP_MODE=INSTALL"};
        if (installerCodes)
            arguments.push_back(L"QZ_SETUP_EXIT_CODE=INSTALLER");
        const SetupRun run = RunSetup(m_dir.path(), arguments);
        EXPECT_EQ(installerCodes ? kTransformFailure : 1u, run.exitCode);
        // Attended: the dialog says it too.
        ASSERT_EQ(1u, run.dialogs.size());
        const std::wstring named =
            L"Transform " + (m_dir / L"damaged.mst") + L" cannot be used with package ";
        EXPECT_NE(std::wstring::npos, run.dialogs[0].find(named)) << ToUtf8(run.dialogs[0]);
        const std::vector<std::string> lines = ExitFileLines(m_dir / L"exit.txt");
        ASSERT_GE(lines.size(), 3u);
        const std::string notATransform = std::to_string(PlatformValue(Deviation::NonTransformApplyError));
        EXPECT_EQ(notATransform, lines[0]) << Describe(Deviation::NonTransformApplyError);
        EXPECT_EQ(notATransform, lines[1]);
        EXPECT_EQ(NotUsable(m_dir / L"damaged.mst", m_dir / L"package.msi"), lines[2]);
        EXPECT_FALSE(IsProductRegistered(m_product.productCode));
    }
}

} // namespace
