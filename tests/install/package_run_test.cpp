// The package run: the property string handed to the installer, and real
// installations, repairs and removals through the installer under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "install/message_handler.h"
#include "install/package_run.h"
#include "planning/install_plan.h"
#include "settings/variables.h"
#include "support/package_builder.h"
#include "support/plan_reader.h"
#include "support/platform_deviations.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"
#include "support/published_variables.h"

using namespace qztest;

namespace {

// Removes the product (and what its folder held) however the test ends.
class InstalledProduct {
public:
    InstalledProduct(std::wstring productCode, std::wstring folder)
        : m_productCode(std::move(productCode)), m_folder(std::move(folder)) {}
    ~InstalledProduct() {
        RemoveProduct(m_productCode);
        if (!m_folder.empty())
            RemoveTree(m_folder);
    }
    InstalledProduct(const InstalledProduct&) = delete;
    InstalledProduct& operator=(const InstalledProduct&) = delete;

private:
    std::wstring m_productCode;
    std::wstring m_folder;
};

// A package description with its own product code and install folder.
PackageSpec UniquePackage(const std::wstring& platform) {
    PackageSpec product;
    product.productCode = NewGuid();
    product.platform = platform;
    product.productName = L"QZ Install Test " + product.productCode.substr(1, 8);
    product.installFolder = L"QZ Install Test " + product.productCode.substr(1, 8);
    return product;
}

std::string LittleEndianBytes(const std::wstring& text) {
    std::string bytes;
    for (const wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The exit file as the completion report writes it: text mode turns each LF into CR LF.
std::string ExpectedExitFile(int normalised, int code, const std::wstring& text) {
    std::string content = std::to_string(normalised) + "\n" + std::to_string(code) + "\n" + ToUtf8(text);
    std::string onDisk;
    for (const char c : content) {
        if (c == '\n')
            onDisk += '\r';
        onDisk += c;
    }
    return onDisk;
}

std::wstring ResultLine(DWORD code, const std::wstring& text) {
    return std::wstring(code == 0 ? L"QZSETUP:BOOTSTRAP:INFO:" : L"QZSETUP:BOOTSTRAP:ERR:") +
           std::to_wstring(code) + L":" + text + L"\r\n";
}

const std::wstring kClosingLine = L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging completed.\r\n";

} // namespace

// What the installer actually receives: the failing custom action reports an
// error whose template shows the property values. A backslash before a double
// quote made the installer refuse the whole command line (1639), and a value
// left with its own quotes inside wrapping quotes lost them. (Wine's parser
// also mishandles quotes at the very start or end of a value, or two in a
// row, even doubled; the installer's documented rule is used all the same.)
TEST(PackageRunTest, InstallerReceivesValuesWithQuotesUnchanged) {
    TempDir dir;
    PackageSpec product = UniquePackage(L"Intel");
    product.errors = {{25000, L"Error [1]. A<[QZA]> B<[QZB]> C<[QZC]> D<[QZD]>"}};
    product.failWithError = 25000;
    const std::wstring package = dir / L"quotes.msi";
    BuildPackage(product, package);
    const InstalledProduct guard(product.productCode, L"");

    const PublishedVariables variables(VariableMap{
        {L"QZ_SETUP_PACKAGE_FILE", package},
        {L"QZ_SETUP_PACKAGE_NAME", L"Quotes"},
        {L"QZ_SETUP_LOG_FILE", dir / L"quotes.log"},
        {L"QZ_SETUP_MODE", L"UNATTENDED"},
        {L"QZ_SUPPRESS_REBOOT", L"1"},
        {L"QZA", L"a\"b"},
        {L"QZB", L"say \"hi\" now"},
        {L"QZC", L"C:\\Path With Space\\"},
        {L"QZD", L"a\"b c"},
    });
    g_lastInstallerError = 0;
    g_lastInstallerMessage.clear();
    std::wstringbuf log;
    unsigned result = 0;
    {
        LogStreamCapture capture(log);
        InstallerBusyWait noWait;
        QZ::MSInstaller::Package held = QZ::MSInstaller::Package::Open(package);
        result = RunPackage(held, PlanPackageRun(variables.map(), held), noWait);
    }
    EXPECT_EQ(result, 1603u);
    EXPECT_EQ(g_lastInstallerError, 25000u);
    EXPECT_EQ(g_lastInstallerMessage,
              L"Error 25000. A<a\"b> B<say \"hi\" now> C<C:\\Path With Space\\> D<a\"b c>");
    // The banner is the only line: nothing went wrong on the way.
    const std::wstring rule(79, L'*');
    EXPECT_EQ(log.str(), L"QZSETUP:BOOTSTRAP:INFO::\n" + rule + L"\nCommencing installation of " + package +
                             L" package.\nProduct name: Quotes.\nProduct version: 1.0.0.\n" + rule + L"\r\n");
    EXPECT_FALSE(IsProductRegistered(product.productCode));
    g_lastInstallerError = 0;
    g_lastInstallerMessage.clear();
}

class SetupInstallTest : public ::testing::Test {
protected:
    std::vector<std::wstring> Arguments(std::vector<std::wstring> extra = {}) const {
        std::vector<std::wstring> arguments = {
            L"/f", L"package.msi", L"/l", L"logs\\run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }
    std::string Log() const { return ReadFileBytes(dir / L"logs\\run.log"); }
    std::string ExitFile() const { return ReadFileBytes(dir / L"exit.txt"); }

    // Where the installer appends its log (Windows), the bootstrapper's first
    // lines stay; where it writes from the start of the file (Wine), what
    // survives is the installer's text and everything the bootstrapper wrote
    // after the call.
    void ExpectLogEndsAfterInstaller(DWORD code, const std::wstring& text) const {
        const std::string log = Log();
        EXPECT_NE(log.find("=== Logging started"), std::string::npos) << "the installer's own log";
        EXPECT_TRUE(EndsWith(log, LittleEndianBytes(ResultLine(code, text) + kClosingLine)));
        if (!Deviates(Deviation::InstallerLogAppend)) {
            EXPECT_EQ(0u, log.find("\xFF\xFE" + LittleEndianBytes(L"QZSETUP:")))
                << Describe(Deviation::InstallerLogAppend);
        }
    }

    TempDir dir;
};

TEST_F(SetupInstallTest, InstallsRepairsAndRemovesAProduct) {
    PackageSpec product = UniquePackage(L"Intel");
    product.errors = {{25000, L"Error [1]. [2]"}};
    BuildPackage(product, dir / L"package.msi");
    const std::wstring folder = ProgramFilesFolderFor(L"Intel") + L"\\" + product.installFolder;
    const std::wstring file = folder + L"\\readme.txt";
    const InstalledProduct guard(product.productCode, folder);

    {
        SCOPED_TRACE("first run installs");
        const SetupRun run = RunSetup(dir.path(), Arguments());
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(run.dialogs.empty());
        EXPECT_TRUE(IsProductRegistered(product.productCode));
        EXPECT_EQ(ReadFileBytes(file), "installed by a test\r\n");
        EXPECT_EQ(ExitFile(), ExpectedExitFile(0, 0, SystemText(0)));
        ExpectLogEndsAfterInstaller(0, SystemText(0));
    }
    {
        SCOPED_TRACE("second run repairs");
        DeleteFileW(file.c_str());
        const SetupRun run = RunSetup(dir.path(), Arguments({L"/v"}));
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(IsProductRegistered(product.productCode));
        EXPECT_EQ(ReadFileBytes(file), "installed by a test\r\n") << "the repair brings the file back";
        // The verbose installer log lists the properties it was given.
        const std::string log = Log();
        EXPECT_NE(log.find("Property(S): REINSTALL = ALL"), std::string::npos);
        EXPECT_NE(log.find("Property(S): REINSTALLMODE = vomus"), std::string::npos);
        EXPECT_NE(log.find("Property(S): MSIENFORCEUPGRADECOMPONENTRULES = 1"), std::string::npos);
        EXPECT_EQ(ExitFile(), ExpectedExitFile(0, 0, SystemText(0)));
    }
    {
        SCOPED_TRACE("/x removes");
        const SetupRun run = RunSetup(dir.path(), Arguments({L"/x"}));
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_FALSE(IsProductRegistered(product.productCode));
        EXPECT_FALSE(PathExists(file));
        EXPECT_EQ(ExitFile(), ExpectedExitFile(0, 0, SystemText(0)));
        ExpectLogEndsAfterInstaller(0, SystemText(0));
    }
}

TEST_F(SetupInstallTest, UnattendedUninstallModeRemovesTheProduct) {
    PackageSpec product = UniquePackage(L"Intel");
    BuildPackage(product, dir / L"package.msi");
    const std::wstring folder = ProgramFilesFolderFor(L"Intel") + L"\\" + product.installFolder;
    const InstalledProduct guard(product.productCode, folder);

    const SetupRun install = RunSetup(dir.path(), Arguments());
    ASSERT_EQ(install.exitCode, 0u);
    ASSERT_TRUE(IsProductRegistered(product.productCode));

    const SetupRun removal = RunSetup(
        dir.path(), {L"/f", L"package.msi", L"/l", L"logs\\run.log", L"QZ_SETUP_MODE=UNATTENDED_UNINSTALL"});
    EXPECT_EQ(removal.exitCode, 0u);
    EXPECT_TRUE(removal.dialogs.empty());
    EXPECT_FALSE(IsProductRegistered(product.productCode));
    EXPECT_FALSE(PathExists(folder + L"\\readme.txt"));
}

TEST_F(SetupInstallTest, FailingPackageReportsTheInstallerErrorAndItsText) {
    PackageSpec product = UniquePackage(L"Intel");
    product.errors = {{25001, L"Error [1]. Not this one"},
                      {25000, L"Error [1]. Custom failure: [2] (code [3]) in [QZVALUE]"}};
    product.failWithError = 25000;
    product.failArguments = {L"disk on fire", L"42"};
    BuildPackage(product, dir / L"package.msi");
    const InstalledProduct guard(product.productCode, L"");

    // The error texts are looked up with the language transform applied.
    const std::wstring transform = dir / L"1036.mst";
    WriteLanguageTransform(transform, 1036);

    // An Intel package gets its values as given: no environment expansion.
    const SetupRun run = RunSetup(
        dir.path(), Arguments({L"QZVALUE=%ProgramFiles%\\Vendor", L"QZ_SETUP_LANG_TRANSFORM=" + transform}));
    const std::wstring text =
        L"Error 25000. Custom failure: disk on fire (code 42) in %ProgramFiles%\\Vendor";
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_FALSE(IsProductRegistered(product.productCode));
    EXPECT_EQ(ExitFile(), ExpectedExitFile(25000, 25000, text));
    ExpectLogEndsAfterInstaller(25000, text);
}

TEST_F(SetupInstallTest, X64PackageGetsProgramFilesExpandedAndTheTransform) {
    PackageSpec product = UniquePackage(L"x64");
    BuildPackage(product, dir / L"package.msi");
    const std::wstring vendor = L"QZ Vendor " + product.productCode.substr(1, 8);
    const std::wstring folder = ProgramFilesFolderFor(L"x64") + L"\\" + vendor;
    const InstalledProduct guard(product.productCode, folder);

    // The transform reaches the installer too: the product is registered in its language.
    const std::wstring transform = dir / L"1036.mst";
    WriteLanguageTransform(transform, 1036, {{L"ProductName", L"Produit QZ"}});

    const SetupRun run = RunSetup(dir.path(), Arguments({L"INSTALLDIR=%ProgramFiles%\\" + vendor,
                                                         L"QZ_SETUP_LANG_TRANSFORM=" + transform}));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(IsProductRegistered(product.productCode));
    EXPECT_EQ(ProductInfo(product.productCode, L"Language"), L"1036");
    EXPECT_EQ(ProductInfo(product.productCode, L"InstalledProductName"), L"Produit QZ");
    EXPECT_EQ(ReadFileBytes(folder + L"\\readme.txt"), "installed by a test\r\n");
    EXPECT_EQ(ExitFile(), ExpectedExitFile(0, 0, SystemText(0)));
}

// A transform named through the environment (which an ordinary user may set
// for an elevated run of their own) is expanded before the checks, whatever
// the package's platform; one whose value carries a double quote is refused
// there, so nothing of it reaches the installer as a property.
TEST_F(SetupInstallTest, ATransformFromTheEnvironmentAddsNoInstallerProperty) {
    PackageSpec product = UniquePackage(L"Intel");
    BuildPackage(product, dir / L"package.msi");
    const InstalledProduct guard(product.productCode,
                                 ProgramFilesFolderFor(L"Intel") + L"\\" + product.installFolder);
    const std::wstring transform = dir / L"fr.mst";
    WriteLanguageTransform(transform, 1036);
    const std::wstring injecting = transform + L"\" INJECTED=\"yes";
    SetupOptions options;
    options.process.setEnv[L"FOOT"] = injecting;
    {
        SCOPED_TRACE("a double quote in the value");
        const SetupRun run =
            RunSetup(dir.path(), Arguments({L"/v", L"QZ_SETUP_LANG_TRANSFORM=%FOOT%"}), options);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_FALSE(IsProductRegistered(product.productCode));
        EXPECT_FALSE(PathExists(dir / L"logs\\run.log")) << "refused before the log, and the installer";
        // The exit file says why, as the attended user below is told.
        EXPECT_EQ(ExitFile(),
                  ExpectedExitFile(30665, 30665,
                                   SystemText(ERROR_BAD_ARGUMENTS) +
                                       L"Parameter QZ_SETUP_LANG_TRANSFORM contains unexpected value " +
                                       injecting + L"."));

        // An attended user sees why.
        const SetupRun shown = RunSetup(
            dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=INSTALL", L"QZ_SETUP_LANG_TRANSFORM=%FOOT%"},
            options);
        EXPECT_EQ(shown.exitCode, 1u);
        ASSERT_EQ(shown.dialogs.size(), 1u);
        EXPECT_NE(shown.dialogs[0].find(L"QZSETUP:BOOTSTRAP:ERR::Parameter QZ_SETUP_LANG_TRANSFORM contains "
                                        L"unexpected value " +
                                        injecting + L"."),
                  std::wstring::npos)
            << ToUtf8(shown.dialogs[0]);
        EXPECT_FALSE(IsProductRegistered(product.productCode));
    }
    {
        SCOPED_TRACE("a path");
        options.process.setEnv[L"FOOT"] = transform;
        const SetupRun run =
            RunSetup(dir.path(), Arguments({L"/v", L"QZ_SETUP_LANG_TRANSFORM=%FOOT%"}), options);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(ProductInfo(product.productCode, L"Language"), L"1036")
            << "the expanded transform was applied";
        const std::string log = Log();
        EXPECT_NE(log.find("Property(S): TRANSFORMS = " + ToUtf8(transform) + "\n"), std::string::npos)
            << log;
        EXPECT_EQ(log.find("INJECTED"), std::string::npos);
    }
}

// A package without a product version stops the run before the banner and
// before the installation call, so the whole log is the bootstrapper's.
TEST_F(SetupInstallTest, MissingProductVersionStopsBeforeTheInstaller) {
    PackageSpec product = UniquePackage(L"Intel");
    const std::wstring package = dir / L"package.msi";
    BuildPackage(product, package);
    ASSERT_NO_THROW(ChangePackage(package, L"DELETE FROM `Property` WHERE `Property`='ProductVersion'"));
    const InstalledProduct guard(product.productCode, L"");
    // An attended installation looks for language transforms before the log
    // opens: the line about this one waits in the early-message buffer. (Its
    // language is not the user's, so no language dialog comes up.)
    WriteLanguageTransform(dir / L"1049.mst", 1049);

    const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"logs\\run.log",
                                               L"QZ_SETUP_MODE=INSTALL", L"/e", L"exit.txt"});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_FALSE(IsProductRegistered(product.productCode));
    bool byteOrderMark = false;
    const std::vector<std::wstring> lines = ReadLogLines(dir / L"logs\\run.log", &byteOrderMark);
    EXPECT_TRUE(byteOrderMark);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.");
    EXPECT_EQ(lines[1], L"QZSETUP:BOOTSTRAP:INFO::Found \"" + dir.path() +
                            L"1049.mst\" language transfrom with 1049 id.");
    EXPECT_EQ(lines.back() + L"\r\n", kClosingLine);
    EXPECT_TRUE(EndsWith(Log(), LittleEndianBytes(kClosingLine)));

    // The failure is logged where it happened, then the result line follows it.
    const std::string exitFile = ExitFile();
    const std::size_t codeEnd = exitFile.find("\r\n");
    ASSERT_NE(codeEnd, std::string::npos) << exitFile;
    const std::wstring code = FromUtf8(exitFile.substr(0, codeEnd));
    EXPECT_NE(code, L"0");
    std::size_t failureAt = lines.size();
    std::size_t resultAt = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (failureAt == lines.size() && lines[i].find(L" Fnc : ") != std::wstring::npos)
            failureAt = i;
        if (lines[i].rfind(L"QZSETUP:BOOTSTRAP:ERR:" + code + L":", 0) == 0)
            resultAt = i;
    }
    EXPECT_LT(failureAt, resultAt);
    // The result names the package and the property (its text spans two lines).
    EXPECT_EQ(resultAt, lines.size() - 2);
    EXPECT_NE(lines[resultAt].find(L"Package " + package + L" has no ProductVersion property"),
              std::wstring::npos)
        << ToUtf8(lines[resultAt]);
    std::wstring log;
    for (const auto& line : lines)
        log += line + L"\r\n";
    EXPECT_EQ(log.find(L"Commencing installation"), std::wstring::npos);
    EXPECT_EQ(log.find(L"=== Logging started"), std::wstring::npos) << "the installer was never called";
}

// A removal says, in the plan and in the log before the installer call,
// whether the package's product is installed, and names another installed
// version of it (the same upgrade code) when it is not.
TEST_F(SetupInstallTest, ARemovalSaysWhetherTheProductIsInstalled) {
    PackageSpec older = UniquePackage(L"Intel");
    older.upgradeCode = NewGuid();
    BuildPackage(older, dir / L"older.msi");
    PackageSpec newer = older;
    newer.productCode = NewGuid();
    newer.packageCode.clear();
    newer.version = L"2.0.0";
    BuildPackage(newer, dir / L"newer.msi");
    const InstalledProduct guard(older.productCode,
                                 ProgramFilesFolderFor(L"Intel") + L"\\" + older.installFolder);
    const InstalledProduct newerGuard(newer.productCode, L"");
    ASSERT_EQ(0u,
              RunSetup(dir.path(), {L"/f", L"older.msi", L"/l", L"run.log", L"/e", L"exit.txt"}).exitCode);
    ASSERT_TRUE(IsProductRegistered(older.productCode));

    const auto line = [&](const PackageSpec& product, const std::wstring& file, const std::wstring& rest) {
        return ToUtf8(L"QZSETUP:BOOTSTRAP:INFO::Product " + product.productName + L" version " +
                      product.version + L" (" + product.productCode + L") of package " + (dir / file) +
                      L" is " + rest);
    };
    const std::string installed = line(older, L"older.msi", L"installed on this machine.");
    const std::string otherVersion =
        line(newer, L"newer.msi",
             L"not installed on this machine, but " + older.productName + L" version 1.0.0 (" +
                 older.productCode + L"), of the same upgrade code, is. This package does not remove it.");
    const std::string notInstalled =
        line(newer, L"newer.msi", L"not installed on this machine: there is nothing of it to remove.");
    const auto plan = [&](const std::wstring& file) {
        EXPECT_EQ(0u, RunSetup(dir.path(), {L"/f", file, L"QZ_SETUP_MODE=UNATTENDED_UNINSTALL",
                                            L"QZ_SETUP_PLAN=plan.json"})
                          .exitCode);
        const PlanJson written = ReadPlan(dir / L"plan.json");
        EXPECT_TRUE(UndocumentedPlanFields(written).empty());
        return written;
    };
    const auto hasLine = [](const PlanJson& written, const std::string& expected) {
        for (const auto& logged : written["log"])
            if (logged == expected)
                return true;
        return false;
    };
    {
        SCOPED_TRACE("the product of the package is installed");
        const PlanJson written = plan(L"older.msi");
        EXPECT_EQ(true, written["operation"]["installed"]);
        EXPECT_TRUE(written["operation"]["otherVersions"].empty());
        EXPECT_TRUE(hasLine(written, installed)) << written["log"].dump();
    }
    {
        SCOPED_TRACE("another version is installed");
        const PlanJson written = plan(L"newer.msi");
        EXPECT_EQ(false, written["operation"]["installed"]);
        const PlanJson expected = PlanJson::array({{{"productCode", ToUtf8(older.productCode)},
                                                    {"productName", ToUtf8(older.productName)},
                                                    {"version", "1.0.0"}}});
        EXPECT_EQ(expected, written["operation"]["otherVersions"]);
        EXPECT_TRUE(hasLine(written, otherVersion)) << written["log"].dump();

        // The run itself logs it after the banner, before the installer call.
        const PublishedVariables variables(VariableMap{
            {L"QZ_SETUP_PACKAGE_FILE", dir / L"newer.msi"},
            {L"QZ_SETUP_PACKAGE_NAME", newer.productName},
            {L"QZ_SETUP_LOG_FILE", dir / L"removal.log"},
            {L"QZ_SETUP_MODE", L"UNATTENDED_UNINSTALL"},
        });
        std::wstringbuf log;
        {
            LogStreamCapture capture(log);
            InstallerBusyWait noWait;
            QZ::MSInstaller::Package held = QZ::MSInstaller::Package::Open(dir / L"newer.msi");
            RunPackage(held, PlanPackageRun(variables.map(), held), noWait);
        }
        const std::wstring logged = log.str();
        const std::size_t banner = logged.find(L"Commencing installation of ");
        ASSERT_NE(std::wstring::npos, banner);
        EXPECT_NE(std::wstring::npos, logged.find(L"\r\n" + FromUtf8(otherVersion) + L"\r\n", banner))
            << ToUtf8(logged);
        EXPECT_TRUE(IsProductRegistered(older.productCode)) << "another version is not removed";
    }
    ASSERT_EQ(0u, RemoveProduct(older.productCode));
    {
        SCOPED_TRACE("nothing of it is installed");
        const PlanJson written = plan(L"newer.msi");
        EXPECT_EQ(false, written["operation"]["installed"]);
        EXPECT_TRUE(written["operation"]["otherVersions"].empty());
        EXPECT_TRUE(hasLine(written, notInstalled)) << written["log"].dump();
    }
}
