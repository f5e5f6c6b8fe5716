// The redistributable pre-install: what it notes in the log, and real
// installations by the built program beside a redistributable package.
#include "install/pre_install.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "msi/package_properties.h"
#include "planning/install_plan.h"
#include "settings/variables.h"
#include "support/package_builder.h"
#include "support/published_variables.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/machine_queries.h"

using namespace qztest;

namespace {

// The package platform and the redistributable's name for this machine.
std::wstring PackagePlatform() {
    return GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"x64" : L"Intel";
}

std::wstring RedistributableName() {
    return L"MSVS2010SP1_" + std::wstring(RedistributableSuffix(GetNativeProcessor())) + L".msi";
}

// The exit file of a successful run, written in text mode (LF becomes CR LF).
std::string SuccessExitFile() {
    std::string bytes;
    for (const char c : "0\n0\n" + ToUtf8(SystemText(0))) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    return bytes;
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

TEST(PreInstall, AMissingRedistributableIsNotedOnlyWhenUnattendedAndVerbose) {
    TempDir dir;
    const WorkingDirectory cwd(dir.path());
    const std::wstring note = L"QZSETUP:BOOTSTRAP:INFO:0:MS redistributables file " + dir.path() +
                              RedistributableName() + L" not found. It is required!.\r\n";
    const struct {
        const char* name;
        VariableMap variables;
        std::wstring logged;
    } cases[] = {
        {"unattended, verbose", {{L"QZ_SETUP_MODE", L"UNATTENDED"}, {L"QZ_SETUP_VERBOSE", L"1"}}, note},
        {"unattended, verbose yes", {{L"QZ_SETUP_MODE", L"UNATTENDED"}, {L"QZ_SETUP_VERBOSE", L"Yes"}}, note},
        {"unattended, not verbose", {{L"QZ_SETUP_MODE", L"UNATTENDED"}}, L""},
        {"unattended, verbose 0", {{L"QZ_SETUP_MODE", L"UNATTENDED"}, {L"QZ_SETUP_VERBOSE", L"0"}}, L""},
        {"install", {{L"QZ_SETUP_MODE", L"INSTALL"}, {L"QZ_SETUP_VERBOSE", L"1"}}, L""},
        {"uninstall", {{L"QZ_SETUP_MODE", L"UNINSTALL"}, {L"QZ_SETUP_VERBOSE", L"1"}}, L""},
        {"unattended uninstall",
         {{L"QZ_SETUP_MODE", L"UNATTENDED_UNINSTALL"}, {L"QZ_SETUP_VERBOSE", L"1"}},
         L""},
        {"no mode", {{L"QZ_SETUP_VERBOSE", L"1"}}, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PublishedVariables variables(c.variables);
        std::wstringbuf log;
        int result = -1;
        {
            LogStreamCapture capture(log);
            InstallerBusyWait noWait;
            result = CoreBootstrapper_PreInstall(
                PlanRedistributable(c.variables, QZ::MSInstaller::PLATFORM_UNRECOGNISED, GetMachineFacts()),
                noWait);
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(log.str(), c.logged);
    }
}

// The installation itself, in-process: silent, its installer log (property
// dump) in the log file, with the reboot piece but no pass-through values.
// (Wine's installer shows REBOOT = ReallySuppress in a silent installation
// even when it was not given, so only its presence is shown here.)
TEST(PreInstall, InstallsSilentlyWithTheRebootPieceAndLogsIntoTheLogFile) {
    TempDir dir;
    const WorkingDirectory cwd(dir.path());
    PackageSpec redistributable;
    redistributable.productCode = NewGuid();
    redistributable.productName = L"QZ Redistributable " + redistributable.productCode.substr(1, 8);
    redistributable.platform = PackagePlatform();
    redistributable.installFolder = redistributable.productName;
    redistributable.properties = {{L"QZ_PASSED", L"package value"}};
    BuildPackage(redistributable, dir / RedistributableName());

    const PublishedVariables variables(VariableMap{{L"QZ_SETUP_MODE", L"UNATTENDED"},
                                                   {L"QZ_SETUP_LOG_FILE", dir / L"run.log"},
                                                   {L"QZ_SUPPRESS_REBOOT", L"1"},
                                                   {L"QZ_PASSED", L"from the command line"}});
    std::wstringbuf log;
    {
        LogStreamCapture capture(log);
        InstallerBusyWait noWait;
        EXPECT_EQ(CoreBootstrapper_PreInstall(PlanRedistributable(variables.map(),
                                                                  QZ::MSInstaller::PLATFORM_UNRECOGNISED,
                                                                  GetMachineFacts()),
                                              noWait),
                  0);
    }
    const bool installed = IsProductRegistered(redistributable.productCode);
    RemoveProduct(redistributable.productCode);
    RemoveTree(ProgramFilesFolderFor(PackagePlatform()) + L"\\" + redistributable.installFolder);

    EXPECT_TRUE(installed);
    EXPECT_EQ(log.str(), L"") << "nothing of its own to log";
    const std::string installerLog = ReadFileBytes(dir / L"run.log");
    EXPECT_NE(installerLog.find("Property(S): ProductName = " + ToUtf8(redistributable.productName)),
              std::string::npos)
        << "the property dump is in the log file";
    EXPECT_NE(installerLog.find("Property(S): REBOOT = ReallySuppress"), std::string::npos);
    EXPECT_NE(installerLog.find("Property(S): QZ_PASSED = package value"), std::string::npos)
        << "pass-through variables are not for the redistributable";
}

// Removes products (and their folder) however the test ends.
class InstalledProducts {
public:
    InstalledProducts(std::vector<std::wstring> productCodes, std::wstring folder)
        : m_productCodes(std::move(productCodes)), m_folder(std::move(folder)) {}
    ~InstalledProducts() {
        for (const auto& code : m_productCodes)
            RemoveProduct(code);
        RemoveTree(m_folder);
    }
    InstalledProducts(const InstalledProducts&) = delete;
    InstalledProducts& operator=(const InstalledProducts&) = delete;

private:
    std::vector<std::wstring> m_productCodes;
    std::wstring m_folder;
};

// A redistributable and a main package beside the program. Both install
// order.txt into the same folder, each with its own text: the text left
// there names the package that was installed last.
class PreInstallRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring id = NewGuid().substr(1, 8);
        folderName = L"QZ PreInstall " + id;
        redistributable.productCode = NewGuid();
        redistributable.productName = L"QZ Redistributable " + id;
        redistributable.platform = PackagePlatform();
        redistributable.installFolder = folderName;
        redistributable.files = {{L"order.txt", "redistributable"}};
        main.productCode = NewGuid();
        main.productName = L"QZ Main " + id;
        main.platform = PackagePlatform();
        main.installFolder = folderName;
        main.files = {{L"order.txt", "main package"}};
        BuildPackage(main, dir / L"package.msi");
    }

    std::wstring Folder() const { return ProgramFilesFolderFor(PackagePlatform()) + L"\\" + folderName; }
    std::string ExitFile() const { return ReadFileBytes(dir / L"exit.txt"); }

    TempDir dir;
    std::wstring folderName;
    PackageSpec redistributable;
    PackageSpec main;
};

TEST_F(PreInstallRunTest, UnattendedInstallsTheRedistributableFirstThenTheMainPackage) {
    BuildPackage(redistributable, dir / RedistributableName());
    const InstalledProducts guard({main.productCode, redistributable.productCode}, Folder());

    const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"run.log",
                                               L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_TRUE(IsProductRegistered(redistributable.productCode));
    EXPECT_TRUE(IsProductRegistered(main.productCode));
    EXPECT_EQ(ReadFileBytes(Folder() + L"\\order.txt"), "main package") << "the redistributable came last";
    EXPECT_EQ(ExitFile(), SuccessExitFile());
}

TEST_F(PreInstallRunTest, AFailingRedistributableDoesNotStopTheMainPackage) {
    redistributable.errors = {{25000, L"Error [1]. Redistributable failure"}};
    redistributable.failWithError = 25000;
    BuildPackage(redistributable, dir / RedistributableName());
    const InstalledProducts guard({main.productCode, redistributable.productCode}, Folder());

    const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"run.log",
                                               L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(IsProductRegistered(redistributable.productCode));
    EXPECT_TRUE(IsProductRegistered(main.productCode));
    EXPECT_EQ(ReadFileBytes(Folder() + L"\\order.txt"), "main package");
}

TEST_F(PreInstallRunTest, AnAttendedInstallationNeverInstallsIt) {
    BuildPackage(redistributable, dir / RedistributableName());
    const InstalledProducts guard({main.productCode, redistributable.productCode}, Folder());

    // A successful attended installation shows no dialog.
    const SetupRun run =
        RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=INSTALL", L"/v"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_FALSE(IsProductRegistered(redistributable.productCode));
    EXPECT_TRUE(IsProductRegistered(main.productCode));
    EXPECT_EQ(ReadFileBytes(Folder() + L"\\order.txt"), "main package");

    // The shared file does tell the order: installed on its own afterwards,
    // the redistributable's text replaces the main package's.
    const SetupRun later = RunSetup(dir.path(), {L"/f", RedistributableName(), L"/l", L"run.log",
                                                 L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    EXPECT_EQ(later.exitCode, 0u);
    EXPECT_TRUE(IsProductRegistered(redistributable.productCode));
    EXPECT_EQ(ReadFileBytes(Folder() + L"\\order.txt"), "redistributable");
}

// A run of the real program without the redistributable. Wine's installer
// writes its log over the start of the file, so the main package here has no
// ProductVersion: the run stops before the installer and the whole log is the
// bootstrapper's.
TEST_F(PreInstallRunTest, AMissingRedistributableIsNotedInVerboseLogsOnly) {
    ASSERT_NO_THROW(
        ChangePackage(dir / L"package.msi", L"DELETE FROM `Property` WHERE `Property`='ProductVersion'"));
    const std::wstring note = L"QZSETUP:BOOTSTRAP:INFO:0:MS redistributables file " + dir.path() +
                              RedistributableName() + L" not found. It is required!.";
    for (const bool verbose : {true, false}) {
        SCOPED_TRACE(verbose ? "verbose" : "not verbose");
        std::vector<std::wstring> arguments = {
            L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"};
        if (verbose)
            arguments.push_back(L"/v");
        const SetupRun run = RunSetup(dir.path(), arguments);
        EXPECT_EQ(run.exitCode, 1u);
        const std::vector<std::wstring> lines = ReadLogLines(dir / L"run.log");
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.");
        if (verbose) {
            EXPECT_EQ(lines[1], note);
        }
        EXPECT_EQ(std::count(lines.begin(), lines.end(), note), verbose ? 1 : 0);
    }
}

TEST(PreInstall, TheRedistributableFollowsThePackageOnlyOnAnArm64Machine) {
    constexpr USHORT arm64 = IMAGE_FILE_MACHINE_ARM64;
    constexpr USHORT amd64 = IMAGE_FILE_MACHINE_AMD64;
    const struct {
        const char* what;
        MachineFacts machine;
        DWORD packagePlatform;
        const wchar_t* name;
    } cases[] = {
        {"Arm64 machine, Arm64 package", {arm64, PROCESSOR_ARCHITECTURE_AMD64}, 12, L"MSVS2010SP1_ARM64.msi"},
        {"Arm64 machine, x64 package", {arm64, PROCESSOR_ARCHITECTURE_AMD64}, 9, L"MSVS2010SP1_x64.msi"},
        {"Arm64 machine, x86 package", {arm64, PROCESSOR_ARCHITECTURE_AMD64}, 0, L"MSVS2010SP1_x86.msi"},
        {"Windows 10 on Arm, x86 package", {arm64, PROCESSOR_ARCHITECTURE_INTEL}, 0, L"MSVS2010SP1_x86.msi"},
        {"Arm64 machine, a package of no known platform",
         {arm64, PROCESSOR_ARCHITECTURE_AMD64},
         0xFFFF,
         L"MSVS2010SP1_x86.msi"},
        {"x64 machine, whatever the package",
         {amd64, PROCESSOR_ARCHITECTURE_AMD64},
         0,
         L"MSVS2010SP1_x64.msi"},
        {"x64 machine, an Arm64 package", {amd64, PROCESSOR_ARCHITECTURE_AMD64}, 12, L"MSVS2010SP1_x64.msi"},
        {"x86 machine", {IMAGE_FILE_MACHINE_I386, PROCESSOR_ARCHITECTURE_INTEL}, 9, L"MSVS2010SP1_x86.msi"},
        {"Itanium machine",
         {IMAGE_FILE_MACHINE_IA64, PROCESSOR_ARCHITECTURE_IA64},
         0,
         L"MSVS2010SP1_IA64.msi"},
        {"no IsWow64Process2, x64", {0, PROCESSOR_ARCHITECTURE_AMD64}, 0, L"MSVS2010SP1_x64.msi"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.name, RedistributableFileName(c.machine, c.packagePlatform));
    }
}

} // namespace
