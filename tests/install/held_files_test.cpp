// What the installer is given cannot change under it: the package, the
// transforms and the redistributable are held from their choice until the
// installer has returned, a file that another program has open for writing
// ends the run before the installer is called, and the package is opened
// once per run.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "diag/bootstrap_log.h"
#include "install/package_run.h"
#include "install/pre_install.h"
#include "msi/package_properties.h"
#include "planning/derived_settings.h"
#include "planning/install_plan.h"
#include "planning/validation.h"
#include "resources/resource_ids.h"
#include "settings/value_expansion.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/process_runner.h"
#include "support/published_variables.h"
#include "support/setup_runner.h"
#include "support/tamper.h"
#include "support/test_env.h"
#include "support/transform_writer.h"
#include "system/machine_queries.h"
#include "system/win_owners.h"

using namespace qztest;

namespace {

// The platform of this machine's packages, and its redistributable's name.
std::wstring NativePlatform() {
    return GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"x64" : L"Intel";
}

std::wstring RedistributableName() {
    return L"MSVS2010SP1_" + std::wstring(RedistributableSuffix(GetNativeProcessor())) + L".msi";
}

// A product language whose primary language is not the user's.
unsigned OtherLanguage() {
    return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_GERMAN ? 1033 : 1031;
}

// Makes `dir` the working directory for as long as it lives.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::wstring& dir) {
        GetCurrentDirectoryW(MAX_PATH, m_saved);
        SetCurrentDirectoryW(dir.c_str());
    }
    ~WorkingDirectory() { SetCurrentDirectoryW(m_saved); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    wchar_t m_saved[MAX_PATH] = L"";
};

// Another program's handle that writes to a file and lets others read it, as
// a copy still running does.
UniqueFileHandle OpenForWriting(const std::wstring& path) {
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Packages that a test builds, removed again (with their folders) however it ends.
class HeldFilesTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& product : m_products) {
            RemoveProduct(product.productCode);
            RemoveTree(ProgramFilesFolderFor(product.platform) + L"\\" + product.installFolder);
        }
    }

    PackageSpec& Product(const std::wstring& name, const std::wstring& file) {
        PackageSpec desc;
        desc.productCode = NewGuid();
        desc.productName = name + L" " + desc.productCode.substr(1, 8);
        desc.installFolder = desc.productName;
        desc.platform = NativePlatform();
        m_products.push_back(desc);
        m_files.push_back(m_dir / file);
        return m_products.back();
    }

    // Builds every product described so far.
    void Build() {
        for (std::size_t i = 0; i < m_products.size(); ++i)
            BuildPackage(m_products[i], m_files[i]);
    }

    TempDir m_dir;
    std::deque<PackageSpec> m_products; // a description stays where it is while others are added
    std::vector<std::wstring> m_files;
};

TEST_F(HeldFilesTest, WhileTheLanguageDialogWaitsThePackageAndTheTransformCannotChange) {
    PackageSpec& product = Product(L"QZ Held Dialog", L"package.msi");
    product.language = OtherLanguage();
    Build();
    const std::wstring transform = m_dir / L"user.mst";
    const LANGID user = GetUserDefaultLangID();
    WriteLanguageTransform(transform, user, {{L"ProductName", L"QZ Held Transformed"}});
    InstallSetupExe(m_dir.path());

    // A second program tries, in a loop, to change both while the user chooses.
    ProcessResult tamper;
    std::vector<std::wstring> items;
    SetupOptions options;
    options.onLanguageDialog = [&](HWND dialog) {
        items = ComboItems(dialog, IDC_LANGUAGE_COMBO);
        ProcessOptions quiet;
        quiet.outputFile = m_dir / L"tamper.txt";
        tamper = RunProgramArgs(BinDir() + L"qz-tamper.exe",
                                {L"20", m_dir / L"package.msi", transform, m_dir / L"nothing"}, quiet);
        ChooseComboItem(dialog, IDC_LANGUAGE_COMBO, 0); // the transform comes first
    };
    const SetupRun run = RunSetup(m_dir.path(), {L"/f", L"package.msi", L"/l", L"setup.log"}, options);

    ASSERT_FALSE(run.timedOut);
    ASSERT_EQ(2u, items.size()) << "the transform and the product's own language";
    // The path that names no file shows that the tool does report what it could do.
    const std::string report = ReadFileBytes(m_dir / L"tamper.txt");
    EXPECT_EQ(1u, tamper.exitCode) << report;
    EXPECT_EQ(std::string::npos, report.find("package.msi")) << report;
    EXPECT_EQ(std::string::npos, report.find("user.mst")) << report;
    EXPECT_NE(std::string::npos, report.find("nothing: write 2")) << report;

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
    ASSERT_TRUE(IsProductRegistered(product.productCode));
    EXPECT_EQ(L"QZ Held Transformed", ProductInfo(product.productCode, INSTALLPROPERTY_INSTALLEDPRODUCTNAME));
    EXPECT_EQ(std::to_wstring(user), ProductInfo(product.productCode, INSTALLPROPERTY_LANGUAGE));
    // Everything is released once the run is over.
    EXPECT_EQ(0u, TryToChange(transform).rename);
}

// The run's result in its exit file: its lines, without their line ends.
std::vector<std::string> ExitFileLines(const std::wstring& path) {
    const std::string text = ReadFileBytes(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST_F(HeldFilesTest, AFileOpenForWritingElsewhereEndsTheRunBeforeTheInstaller) {
    Product(L"QZ Held Main", L"package.msi");
    Product(L"QZ Held Runtime", RedistributableName());
    Build();
    WriteLanguageTransform(m_dir / L"given.mst", 1036);
    // Held before it is read: its content does not matter.
    WriteFileBytes(m_dir / L"update.msp", "a patch being copied");
    InstallSetupExe(m_dir.path());
    const std::vector<std::wstring> unattended = {L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt", L"/l",
                                                  L"run.log"};
    const struct {
        const char* what;
        std::wstring file; // held open for writing during the run
        std::vector<std::wstring> arguments;
        bool logOpened; // the failure comes after the log file was opened
    } cases[] = {
        {"the package given by its file", m_files[0], {L"/f", L"package.msi"}, false},
        {"the package found by its name", m_files[0], {L"/p", L"QZ Held Main"}, false},
        // No name matches: every candidate is looked at.
        {"another package among the candidates", m_files[1], {L"/p", L"QZ Held None"}, false},
        {"a transform given by a relative name",
         m_dir / L"given.mst",
         {L"/f", L"package.msi", L"QZ_SETUP_LANG_TRANSFORM=given.mst"},
         false},
        {"the redistributable", m_files[1], {L"/f", L"package.msi"}, true},
        {"a patch", m_dir / L"update.msp", {L"/f", L"package.msi", L"QZ_SETUP_PATCHES=*"}, true},
    };
    for (const auto& c : cases) {
        for (const bool installerCodes : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (installerCodes ? ", INSTALLER" : ", default codes"));
            DeleteFileW((m_dir / L"run.log").c_str());
            std::vector<std::wstring> arguments = c.arguments;
            arguments.insert(arguments.end(), unattended.begin(), unattended.end());
            if (installerCodes)
                arguments.push_back(L"QZ_SETUP_EXIT_CODE=INSTALLER");
            SetupRun run;
            {
                const UniqueFileHandle writer = OpenForWriting(c.file);
                ASSERT_TRUE(writer.valid());
                run = RunSetup(m_dir.path(), arguments);
            }
            ASSERT_FALSE(run.timedOut);
            EXPECT_EQ(installerCodes ? 1618u : 1u, run.exitCode) << "retried later by a deployment tool";
            EXPECT_TRUE(run.dialogs.empty());
            const std::vector<std::string> lines = ExitFileLines(m_dir / L"exit.txt");
            ASSERT_GE(lines.size(), 3u);
            EXPECT_EQ("32", lines[0]);
            EXPECT_EQ("32", lines[1]);
            EXPECT_EQ(
                "File " + ToUtf8(c.file) +
                    " could not be held unchanged for the installation: another program may have it open "
                    "for writing.",
                lines[2]);
            for (const auto& product : m_products)
                EXPECT_FALSE(IsProductRegistered(product.productCode)) << "nothing is installed";
            EXPECT_EQ(c.logOpened, PathExists(m_dir / L"run.log"));
            if (c.logOpened) {
                const std::wstring log = ReadUtf16File(m_dir / L"run.log");
                EXPECT_NE(std::wstring::npos, log.find(L"QZSETUP:BOOTSTRAP:ERR:32:File " + c.file));
                EXPECT_EQ(std::wstring::npos, log.find(L"Logging started")) << "the installer was not called";
            }
        }
    }
}

TEST_F(HeldFilesTest, TheRedistributableIsHeldFromItsChoiceUntilItIsInstalled) {
    const PackageSpec& runtime = Product(L"QZ Held Runtime", RedistributableName());
    Build();
    const WorkingDirectory cwd(m_dir.path());
    const PublishedVariables variables(
        VariableMap{{L"QZ_SETUP_MODE", L"UNATTENDED"}, {L"QZ_SETUP_LOG_FILE", m_dir / L"run.log"}});
    std::wstringbuf log;
    LogStreamCapture capture(log);
    {
        const RedistributablePlan plan =
            PlanRedistributable(variables.map(), QZ::MSInstaller::PLATFORM_UNRECOGNISED, GetMachineFacts());
        const HeldFile& redistributable = plan.held;
        ASSERT_TRUE(redistributable.held());
        EXPECT_EQ(m_files[0], redistributable.path());
        // The run stands between the choice and the installation here.
        EXPECT_TRUE(TryToChange(m_files[0]).AllShareRefused());
        InstallerBusyWait noWait;
        InstallRedistributable(redistributable, noWait);
        EXPECT_TRUE(IsProductRegistered(runtime.productCode));
    }
    EXPECT_EQ(0u, TryToChange(m_files[0]).rename) << "released after the installation";

    // Other modes choose nothing.
    const PublishedVariables attended(VariableMap{{L"QZ_SETUP_MODE", L"INSTALL"}});
    EXPECT_FALSE(
        PlanRedistributable(attended.map(), QZ::MSInstaller::PLATFORM_UNRECOGNISED, GetMachineFacts())
            .held.held());
}

// The whole run in this process, as the run sequence makes it, counting the
// opens of a package database.
struct CountedRun {
    unsigned long opens = 0;
    unsigned result = 0;
};

CountedRun RunCountingOpens(VariableMap variables) {
    const unsigned long before = QZ::MSInstaller::PckgDatabaseOpenCount();
    std::wstringbuf log;
    LogStreamCapture capture(log);
    QZ::MSInstaller::Package package;
    CountedRun counted;
    EXPECT_TRUE(ValidateSettings(variables));
    EXPECT_TRUE(DeriveSettings(variables, package));
    ExpandPassThroughVariables(variables, package.Platform());
    const PublishedVariables published(variables);
    InstallerBusyWait noWait;
    CoreBootstrapper_PreInstall(PlanRedistributable(variables, package.Platform(), GetMachineFacts()),
                                noWait);
    counted.result = RunPackage(package, PlanPackageRun(variables, package), noWait);
    counted.opens = QZ::MSInstaller::PckgDatabaseOpenCount() - before;
    return counted;
}

TEST_F(HeldFilesTest, ARunOpensItsPackageOnce) {
    PackageSpec& failing = Product(L"QZ Once Failing", L"failing.msi");
    failing.errors = {{25000, L"Error [1]. Once failure: [2]"}};
    failing.failWithError = 25000;
    failing.failArguments = {L"as planned"};
    const PackageSpec& product = Product(L"QZ Once Agent", L"agent.msi");
    Product(L"QZ Once Other", L"other.msi");
    Build();
    const WorkingDirectory cwd(m_dir.path());
    const VariableMap common = {{L"QZ_SETUP_MODE", L"UNATTENDED"},
                                {L"QZ_SETUP_LOG_FILE", m_dir / L"run.log"},
                                {L"QZ_SETUP_PACKAGE_DIR", m_dir.path()},
                                {L"QZ_SETUP_LANG_TRANSFORM_DIR", m_dir.path()}};
    auto with = [&](VariableMap extra) {
        extra.insert(common.begin(), common.end());
        return extra;
    };
    // By name, every candidate is opened once, the chosen one included.
    unsigned long candidates = 0;
    bool listed = false;
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle listing(FindFirstFileW((m_dir / L"*.msi").c_str(), &entry));
    ASSERT_TRUE(listing.valid());
    do {
        ++candidates;
        listed = std::wstring(entry.cFileName) == L"agent.msi";
    } while (!listed && FindNextFileW(listing.get(), &entry));
    ASSERT_TRUE(listed);

    const struct {
        const char* what;
        VariableMap variables;
        unsigned result;
        unsigned long opens;
    } cases[] = {
        // The message handler reads the Error table through the same database.
        {"failing, the error from its Error table", with({{L"QZ_SETUP_PACKAGE_FILE", m_files[0]}}), 1603, 1},
        {"installed by file", with({{L"QZ_SETUP_PACKAGE_FILE", m_files[1]}}), 0, 1},
        {"repaired by file", with({{L"QZ_SETUP_PACKAGE_FILE", m_files[1]}}), 0, 1},
        {"repaired, found by name", with({{L"QZ_SETUP_PACKAGE_NAME", L"QZ Once Agent"}}), 0, candidates},
        {"removed by file",
         with({{L"QZ_SETUP_PACKAGE_FILE", m_files[1]}, {L"QZ_SETUP_MODE", L"UNATTENDED_UNINSTALL"}}), 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CountedRun run = RunCountingOpens(c.variables);
        EXPECT_EQ(c.result, run.result);
        EXPECT_EQ(c.opens, run.opens);
    }
    EXPECT_FALSE(IsProductRegistered(product.productCode));
}

} // namespace
