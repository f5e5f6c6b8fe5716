// Planning as a user or a deployment script sees it: the real qz-setup.exe,
// started beside packages from the package builder, finds its package by
// name, refuses bad settings and derives the rest.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

using namespace qztest;

namespace {

// Removes the product however the test ends.
class InstalledProduct {
public:
    explicit InstalledProduct(std::wstring productCode) : m_productCode(std::move(productCode)) {}
    ~InstalledProduct() { RemoveProduct(m_productCode); }
    InstalledProduct(const InstalledProduct&) = delete;
    InstalledProduct& operator=(const InstalledProduct&) = delete;

private:
    std::wstring m_productCode;
};

PackageSpec AgentPackage(const std::wstring& productName, const std::wstring& platform) {
    PackageSpec desc;
    desc.productCode = NewGuid();
    desc.productName = productName;
    desc.platform = platform;
    desc.installFolder = L"QZ Planning " + desc.productCode.substr(1, 8);
    return desc;
}

std::wstring ProcessorText() {
    return MachineIsX64() ? L"AMD64" : L"x86";
}

// The system text as the exit file holds it (written in text mode: CR LF becomes CR CR LF).
std::string ExitFileText(DWORD error) {
    std::string text = ToUtf8(SystemText(error)), out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// The result line of a run refused by validation or derivation, as the viewer shows it.
std::wstring RefusedResultLine() {
    return L"QZSETUP:BOOTSTRAP:ERR:30665:" + SystemText(ERROR_BAD_ARGUMENTS) + L"\r\n";
}

class PlanningRun : public ::testing::Test {
protected:
    std::wstring ExitPath() const { return m_dir / L"exit.txt"; }
    TempDir m_dir;
};

TEST_F(PlanningRun, LocationByNameInstallsThePackageForThisProcessorInEitherListingOrder) {
    // The same two file names carry the two platforms one way and then the
    // other, so that in one of the runs the foreign package is listed first.
    for (const bool nativeAsA : {true, false}) {
        SCOPED_TRACE(nativeAsA ? "native package as a.msi" : "native package as b.msi");
        TempDir dir;
        const PackageSpec native =
            AgentPackage(L"QZ Sample Agent (" + NativePlatform() + L")", NativePlatform());
        const PackageSpec foreign =
            AgentPackage(L"QZ Sample Agent (" + ForeignPlatform() + L")", ForeignPlatform());
        BuildPackage(native, dir / (nativeAsA ? L"a.msi" : L"b.msi"));
        BuildPackage(foreign, dir / (nativeAsA ? L"b.msi" : L"a.msi"));
        const InstalledProduct nativeGuard(native.productCode), foreignGuard(foreign.productCode);
        // The default log goes to TEMP: a folder of this test.
        SetupOptions options;
        options.process.setEnv[L"TEMP"] = dir / L"tmp";

        const SetupRun run = RunSetup(
            dir.path(), {L"/p", L"Sample Agent", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"}, options);
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());
        EXPECT_TRUE(IsProductRegistered(native.productCode));
        EXPECT_FALSE(IsProductRegistered(foreign.productCode));
        EXPECT_EQ("0", ReadExitFile(dir / L"exit.txt").code);
        // The log is named after the package name, in TEMP.
        EXPECT_TRUE(PathExists(dir / L"tmp\\Sample Agent_install.log"));
    }
}

TEST_F(PlanningRun, AnArm64PackageListedFirstIsPassedByOnThisMachine) {
    // Wine reports an x64 (or x86) machine, never Arm64: the package for
    // this machine's processor is installed, as before.
    const PackageSpec arm64 = AgentPackage(L"QZ Sample Agent (Arm64)", L"Arm64");
    const PackageSpec native = AgentPackage(L"QZ Sample Agent (" + NativePlatform() + L")", NativePlatform());
    BuildPackage(arm64, m_dir / L"agent-arm64.msi");
    BuildPackage(native, m_dir / L"agent-native.msi");
    const InstalledProduct arm64Guard(arm64.productCode), nativeGuard(native.productCode);
    const SetupRun run = RunSetup(m_dir.path(), {L"/p", L"Sample Agent", L"QZ_SETUP_MODE=UNATTENDED", L"/e",
                                                 L"exit.txt", L"/l", L"setup.log"});
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(IsProductRegistered(native.productCode));
    EXPECT_FALSE(IsProductRegistered(arm64.productCode));
}

TEST_F(PlanningRun, TheRebootIsSuppressedWhenNotSaidOtherwise) {
    const PackageSpec package = AgentPackage(L"QZ Reboot Agent", NativePlatform());
    BuildPackage(package, m_dir / L"agent.msi");
    const InstalledProduct guard(package.productCode);
    const SetupRun run =
        RunSetup(m_dir.path(), {L"/p", L"Reboot Agent", L"/v", L"/l", L"run.log", L"/e", L"exit.txt"});
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_TRUE(IsProductRegistered(package.productCode));
    // The verbose installer log lists the properties it was given.
    EXPECT_NE(std::string::npos,
              ReadFileBytes(m_dir / L"run.log").find("Property(S): REBOOT = ReallySuppress"));
}

TEST_F(PlanningRun, ANameThatMatchesNothingIsRefusedBeforeTheLogOpens) {
    BuildPackage(AgentPackage(L"QZ Sample Agent", ForeignPlatform()), m_dir / L"foreign.msi");
    // The package whose name matched, on its platform.
    const std::wstring nearMiss =
        MachineIsX64()
            ? L"Package " + (m_dir / L"foreign.msi") +
                  L" matches the name but is made for the Intel platform. "
                  L"This machine can run it: name it with /f to install it."
            : L"Package " + (m_dir / L"foreign.msi") +
                  L" matches the name but is made for the x64 platform, which this machine cannot run.";
    const std::wstring notFound = L"QZSETUP:BOOTSTRAP:ERR::Package named Sample Agent for processor " +
                                  ProcessorText() + L" not found in " + m_dir.path() + L" directory.\r\n" +
                                  L"QZSETUP:BOOTSTRAP:ERR::" + nearMiss + L"\r\n" +
                                  L"QZSETUP:BOOTSTRAP:ERR::Failed to find the installation package.\r\n";
    SetupOptions options;
    options.process.setEnv[L"TEMP"] = m_dir / L"tmp";
    {
        SCOPED_TRACE("attended: the viewer shows why");
        const SetupRun run = RunSetup(m_dir.path(), {L"/p", L" Sample Agent "}, options);
        EXPECT_EQ(1u, run.exitCode);
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(notFound + RefusedResultLine(), run.dialogs[0]);
    }
    // A deployment script that names an exit file but no mode gets no dialog
    // either: the run is as unattended as its mode would have been.
    const std::vector<std::vector<std::wstring>> unattended = {
        {L"/p", L"Sample Agent", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"},
        {L"/p", L"Sample Agent", L"/e", L"exit.txt"}};
    for (const auto& arguments : unattended) {
        SCOPED_TRACE(testing::PrintToString(arguments.size()) + " arguments: the exit file, no dialog");
        DeleteFileW(ExitPath().c_str());
        const SetupRun run = RunSetup(m_dir.path(), arguments, options);
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());
        const ExitFileParts exit = ReadExitFile(ExitPath());
        EXPECT_EQ("30665", exit.normalised);
        EXPECT_EQ("30665", exit.code);
        // The result text, then why, as the viewer would have said it.
        EXPECT_EQ(ExitFileText(ERROR_BAD_ARGUMENTS) + "Package named Sample Agent for processor " +
                      ToUtf8(ProcessorText()) + " not found in " + ToUtf8(m_dir.path()) + " directory.\r\n" +
                      ToUtf8(nearMiss) + "\r\nFailed to find the installation package.",
                  exit.text);
    }
    EXPECT_FALSE(PathExists(m_dir / L"tmp")) << "no log file";
}

TEST_F(PlanningRun, WhatAMatchIs) {
    // Help runs locate the package too, and end there: 0 when found, the
    // refusal when not, or the installer's error for a file that is no package.
    struct Case {
        const char* what;
        std::vector<std::wstring>
            files; // "dir:" a directory; "bad:" a text file; else a package for this processor
        std::wstring name;
        std::string code;
    };
    const Case cases[] = {
        {"part of the product name", {L"agent.msi"}, L"Sample Agent", "0"},
        {"letter case counts", {L"agent.msi"}, L"sample agent", "30665"},
        {"blanks match the first package", {L"agent.msi"}, L"   ", "0"},
        {"a directory named like a package is skipped", {L"dir:x.msi"}, L"Agent", "30665"},
        {"a directory beside a package is skipped", {L"dir:x.msi", L"agent.msi"}, L"Agent", "0"},
        {"a file that is no package ends the run", {L"bad:broken.msi"}, L"Agent", "installer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const std::wstring& file : c.files) {
            if (file.compare(0, 4, L"dir:") == 0)
                ASSERT_TRUE(CreateDirectoryW((dir / file.substr(4)).c_str(), nullptr));
            else if (file.compare(0, 4, L"bad:") == 0)
                WriteFileBytes(dir / file.substr(4), "not an installer database\r\n");
            else
                BuildPackage(AgentPackage(L"QZ Sample Agent", NativePlatform()), dir / file);
        }
        const SetupRun run =
            RunSetup(dir.path(), {L"/p", c.name, L"/h", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_TRUE(run.dialogs.empty());
        const ExitFileParts exit = ReadExitFile(dir / L"exit.txt");
        if (c.code == "installer") {
            // Not skipped: the installer's error on opening it ends the run.
            EXPECT_EQ(1u, run.exitCode);
            EXPECT_NE("0", exit.code);
            EXPECT_NE("30665", exit.code);
            EXPECT_EQ(ExitFileText(std::stoul(exit.code)), exit.text) << exit.code;
        } else {
            EXPECT_EQ(c.code, exit.code);
            EXPECT_EQ(c.code == "0" ? 0u : 1u, run.exitCode);
        }
    }
}

TEST_F(PlanningRun, ValidationRefusesWithItsMessage) {
    BuildPackage(AgentPackage(L"QZ Sample Agent", NativePlatform()), m_dir / L"agent.msi");
    SetupOptions options;
    options.process.setEnv[L"QZ_PLANNING_DIR"] = m_dir.path();
    struct Case {
        const char* what;
        std::vector<std::wstring> arguments;
        std::wstring message;
    };
    const Case cases[] = {
        {"no package named", {}, L"Package name and package file name are missing. Either is required."},
        {"a missing package file, shown expanded",
         {L"/f", L"%QZ_PLANNING_DIR%missing.msi"},
         L"Package file " + m_dir.path() + L"missing.msi does not exist!"},
        {"a missing help file",
         {L"/p", L"Sample Agent", L"/h", L"/H", L"%QZ_PLANNING_DIR%help_enu"},
         L"Help file " + m_dir.path() + L"help_enu does not exist. Cannot display package help!"},
        {"the mode is case-sensitive",
         {L"/p", L"Sample Agent", L"QZ_SETUP_MODE=install"},
         L"Parameter QZ_SETUP_MODE contains unexpected value install."},
        {"a missing package file comes before a bad mode",
         {L"/f", L"missing.msi", L"QZ_SETUP_MODE=install"},
         L"Package file missing.msi does not exist!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(ExitPath().c_str());
        // An exit file alone would make the run unattended: an attended mode
        // is named unless the case is about the mode.
        std::vector<std::wstring> arguments = c.arguments;
        arguments.insert(arguments.end(), {L"/e", L"exit.txt"});
        const bool modeGiven = std::any_of(arguments.begin(), arguments.end(), [](const std::wstring& a) {
            return a.rfind(L"QZ_SETUP_MODE=", 0) == 0;
        });
        if (!modeGiven)
            arguments.push_back(L"QZ_SETUP_MODE=INSTALL");
        const SetupRun run = RunSetup(m_dir.path(), arguments, options);
        EXPECT_EQ(1u, run.exitCode);
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(L"QZSETUP:BOOTSTRAP:ERR::" + c.message + L"\r\n" + RefusedResultLine(), run.dialogs[0]);
        EXPECT_EQ("30665", ReadExitFile(ExitPath()).code);
    }
}

// Without any of TEMP, SystemRoot and SystemDrive no default log directory
// exists. Wine gives every process its own SystemRoot, whatever the parent
// hands on (a value of its own, an empty one or none), so that end is shown by
// the unit tests of the derivation; for the same reason the SystemRoot case
// below expects the system's folder.

TEST_F(PlanningRun, WithoutTempTheLogGoesToSystemRootsTemp) {
    // Named after the product name of the package given by its file; its own
    // name keeps the system folder's log apart from other runs'.
    const PackageSpec package = AgentPackage(L"QZ Log Agent " + NewGuid().substr(1, 8), NativePlatform());
    BuildPackage(package, m_dir / L"agent.msi");
    const InstalledProduct guard(package.productCode);
    wchar_t systemRoot[MAX_PATH] = L"";
    ASSERT_NE(0u, GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH));
    const std::wstring log = std::wstring(systemRoot) + L"\\Temp\\" + package.productName + L"_install.log";
    SetupOptions options;
    options.process.unsetEnv = {L"TEMP"};
    const SetupRun run = RunSetup(m_dir.path(), {L"/f", L"agent.msi", L"/e", L"exit.txt"}, options);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(PathExists(log));
    DeleteFileW(log.c_str());
}

TEST_F(PlanningRun, ARelativePackageDirectoryInQuotesResolvesAgainstTheProgramsFolder) {
    const std::wstring packages = m_dir / L"pkgs\\";
    ASSERT_TRUE(CreateDirectoryW(packages.c_str(), nullptr));
    BuildPackage(AgentPackage(L"QZ Sample Agent", NativePlatform()), packages + L"agent.msi");
    TempDir elsewhere; // the current directory the run is started in
    SetupOptions options;
    options.process.workingDir = elsewhere.path();
    const SetupRun run = RunSetup(m_dir.path(),
                                  {L"/p", L"Sample Agent", L"QZ_SETUP_PACKAGE_DIR=\"pkgs\"", L"/h",
                                   L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"},
                                  options);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("0", ReadExitFile(ExitPath()).code);
}

// A package in a language other than the user's, with a transform for the
// user's language beside the program: the language dialog comes only in mode
// INSTALL, so it shows which mode was derived. The package fails its
// installation, so nothing stays installed.
TEST_F(PlanningRun, TheModeIsUnattendedWithAnExitOrResponseFileAndInstallOtherwise) {
    const LANGID user = GetUserDefaultLangID();
    PackageSpec package = AgentPackage(L"QZ Sample Agent", NativePlatform());
    package.language = PRIMARYLANGID(user) == LANG_GERMAN ? 1033 : 1031;
    package.failWithError = 25000;
    package.errors = {{25000, L"Agent failure"}};
    BuildPackage(package, m_dir / L"agent.msi");
    const InstalledProduct guard(package.productCode);
    WriteLanguageTransform(m_dir / L"user.mst", user);
    WriteFileBytes(m_dir / L"answers.rsp", "SOME_PROPERTY=1\r\n");

    struct Case {
        const char* what;
        std::vector<std::wstring> arguments;
        bool languageDialog;
    };
    const Case cases[] = {
        {"nothing given: INSTALL", {}, true},
        {"an exit file: UNATTENDED", {L"/e", L"exit.txt"}, false},
        {"a response file: UNATTENDED", {L"/r", L"answers.rsp"}, false},
        {"a given mode is kept", {L"/e", L"exit.txt", L"QZ_SETUP_MODE=INSTALL"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int dialogs = 0;
        SetupOptions options;
        options.process.setEnv[L"TEMP"] = m_dir / L"tmp";
        options.onLanguageDialog = [&](HWND dialog) {
            ++dialogs;
            PressCancel(dialog);
        };
        std::vector<std::wstring> arguments = {L"/p", L"Sample Agent"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const SetupRun run = RunSetup(m_dir.path(), arguments, options);
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(c.languageDialog ? 1 : 0, dialogs);
        EXPECT_EQ(1u, run.exitCode); // the user's exit, or the failing package
        if (!c.languageDialog) {
            EXPECT_TRUE(run.dialogs.empty()) << "unattended runs show nothing";
        }
    }
    EXPECT_FALSE(IsProductRegistered(package.productCode));
}

// For a French user with a French transform beside the program, started with
// nothing but the package name.
class FrenchUserRun : public PlanningRun {
protected:
    void SetUp() override {
        if (PRIMARYLANGID(GetUserDefaultLangID()) != LANG_FRENCH)
            GTEST_SKIP() << "needs a French user (LC_ALL=fr_FR.UTF-8)";
        m_package = AgentPackage(L"QZ Sample Agent", NativePlatform());
        BuildPackage(m_package, m_dir / L"agent.msi");
        WriteLanguageTransform(m_dir / L"agent-fr.mst", 1036, {{L"ProductName", L"QZ Agent exemple"}});
        m_options.process.setEnv[L"TEMP"] = m_dir / L"tmp";
    }
    void TearDown() override {
        if (!m_package.productCode.empty())
            RemoveProduct(m_package.productCode);
    }

    PackageSpec m_package;
    SetupOptions m_options;
};

TEST_F(FrenchUserRun, TheDialogOffersFrenchAndOkInstallsTheTransformedProduct) {
    std::vector<std::wstring> items;
    m_options.onLanguageDialog = [&](HWND dialog) {
        items = ComboItems(dialog, IDC_LANGUAGE_COMBO);
        EXPECT_EQ(0, ComboSelection(dialog, IDC_LANGUAGE_COMBO));
        PressOk(dialog);
    };
    const SetupRun run = RunSetup(m_dir.path(), {L"/p", L"Sample Agent"}, m_options);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ((std::vector<std::wstring>{L"Française", L"English"}), items);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty()) << "a successful attended installation shows no viewer";
    ASSERT_TRUE(IsProductRegistered(m_package.productCode));
    EXPECT_EQ(L"QZ Agent exemple", ProductInfo(m_package.productCode, INSTALLPROPERTY_INSTALLEDPRODUCTNAME));
    EXPECT_EQ(L"1036", ProductInfo(m_package.productCode, INSTALLPROPERTY_LANGUAGE));
}

TEST_F(FrenchUserRun, EscapeEndsAsAUserExitWithAnExitFileAndNoLog) {
    int dialogs = 0;
    m_options.onLanguageDialog = [&](HWND dialog) {
        if (dialogs++ == 0)
            PostMessageW(GetDlgItem(dialog, IDC_LANGUAGE_COMBO), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        else
            PressCancel(dialog);
    };
    const SetupRun run = RunSetup(
        m_dir.path(), {L"/p", L"Sample Agent", L"/e", L"exit.txt", L"QZ_SETUP_MODE=INSTALL"}, m_options);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(1, dialogs);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_FALSE(IsProductRegistered(m_package.productCode));
    const ExitFileParts exit = ReadExitFile(ExitPath());
    EXPECT_EQ("1602", exit.normalised);
    EXPECT_EQ("1602", exit.code);
    EXPECT_EQ(ExitFileText(ERROR_INSTALL_USEREXIT), exit.text);
    EXPECT_FALSE(PathExists(m_dir / L"tmp\\Sample Agent_install.log"));
}

} // namespace
