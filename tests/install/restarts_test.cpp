// Restarts: the redistributable never restarts the machine in the middle of
// the run, a restart it needs is not lost, a failure of it is named, and a
// restart that is already pending is named before the installer is called.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "install/pre_install.h"
#include "support/package_builder.h"
#include "support/plan_reader.h"
#include "support/restart_signal.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/machine_queries.h"
#include "system/restart_signals.h"

using namespace qztest;

namespace {

TEST(RestartResult, ARestartTheRedistributableNeedsTurnsTheMainPackagesSuccessInto3010) {
    const struct {
        const char* what;
        unsigned package;
        RedistributableOutcome redistributable;
        unsigned result;
    } cases[] = {
        {"no redistributable", 0, {false, 0}, 0},
        {"it needs a restart", 0, {true, 3010}, 3010},
        {"it was kept from restarting", 0, {true, 1641}, 3010},
        {"it failed", 0, {true, 1603}, 0},
        {"it succeeded", 0, {true, 0}, 0},
        {"the package failed", 1603, {true, 3010}, 1603},
        {"the package needs a restart itself", 3010, {true, 3010}, 3010},
        {"the package restarts", 1641, {true, 3010}, 1641},
        {"the package was cancelled", 1602, {true, 1641}, 1602},
        {"not run, whatever its value", 0, {false, 3010}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.result, ResultWithRedistributable(c.package, c.redistributable));
    }
}

std::wstring PackagePlatform() {
    return GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"x64" : L"Intel";
}

std::wstring RedistributableName() {
    return L"MSVS2010SP1_" + std::wstring(RedistributableSuffix(GetNativeProcessor())) + L".msi";
}

// The bytes of `text` as the bootstrap log holds it (UTF-16LE).
std::string Utf16Bytes(const std::wstring& text) {
    std::string bytes;
    for (const wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

// Whether the log holds `line`. Wine's installer writes its own log from the
// start of the file, over the bootstrapper's first lines: only lines written
// after an installation began are sure to be there.
bool LogHolds(const std::wstring& log, const std::wstring& line) {
    return ReadFileBytes(log).find(Utf16Bytes(line)) != std::string::npos;
}

// A redistributable and a main package beside the program, both installing
// into one folder of their own.
class RestartsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring id = NewGuid().substr(1, 8);
        folderName = L"QZ Restarts " + id;
        redistributable.productCode = NewGuid();
        redistributable.productName = L"QZ Redistributable " + id;
        redistributable.platform = PackagePlatform();
        redistributable.installFolder = folderName;
        redistributable.files = {{L"redistributable.txt", "redistributable"}};
        main.productCode = NewGuid();
        main.productName = L"QZ Main " + id;
        main.platform = PackagePlatform();
        main.installFolder = folderName;
        main.files = {{L"main.txt", "main package"}};
    }
    void TearDown() override { Clean(); }

    void Clean() {
        RemoveProduct(main.productCode);
        RemoveProduct(redistributable.productCode);
        RemoveTree(ProgramFilesFolderFor(PackagePlatform()) + L"\\" + folderName);
        DeleteFileW((dir / L"run.log").c_str());
        DeleteFileW((dir / L"exit.txt").c_str());
    }

    SetupRun Run(std::vector<std::wstring> extra = {}) {
        std::vector<std::wstring> arguments = {
            L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return RunSetup(dir.path(), arguments);
    }

    std::wstring Log() const { return dir / L"run.log"; }

    TempDir dir;
    std::wstring folderName;
    PackageSpec redistributable;
    PackageSpec main;
};

TEST_F(RestartsTest, ARestartTheRedistributableNeedsIsTheRunsWhenTheMainPackageSucceeds) {
    InstallSetupExe(dir.path());
    BuildPackage(redistributable, dir / RedistributableName());
    // It asks for a restart at its end: Wine's installer then returns 3010.
    ChangePackage(
        dir / RedistributableName(),
        L"INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('ScheduleReboot', 6500)");
    BuildPackage(main, dir / L"package.msi");
    const std::string needsRestart = ExitFileBytes(0, 3010, SystemText(ERROR_SUCCESS_REBOOT_REQUIRED));
    const struct {
        const char* what;
        std::vector<std::wstring> extra;
        DWORD exitCode;
    } cases[] = {
        {"default exit codes", {}, 0},
        {"installer exit codes", {L"QZ_SETUP_EXIT_CODE=INSTALLER"}, 3010},
        // Whatever the settings say of the main package's restart, the
        // redistributable's is suppressed.
        {"restarts not suppressed", {L"QZ_SUPPRESS_REBOOT=0", L"QZ_SETUP_EXIT_CODE=INSTALLER"}, 3010},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SetupRun run = Run(c.extra);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_TRUE(IsProductRegistered(redistributable.productCode));
        EXPECT_TRUE(IsProductRegistered(main.productCode)) << "no restart came in the middle";
        EXPECT_EQ(needsRestart, ReadFileBytes(dir / L"exit.txt"));
        EXPECT_TRUE(LogHolds(Log(), L"QZSETUP:BOOTSTRAP:ERR:3010:" +
                                        SystemText(ERROR_SUCCESS_REBOOT_REQUIRED) +
                                        L"\r\nQZSETUP:BOOTSTRAP:INFO::Bootstrapper logging completed.\r\n"));
        Clean();
    }

    // The redistributable's own installer log (its property dump) stays in
    // the file only when no installer log follows it: here the package has
    // no ProductVersion, and the run ends before its installer call.
    ChangePackage(dir / L"package.msi", L"DELETE FROM `Property` WHERE `Property`='ProductVersion'");
    Run({L"QZ_SUPPRESS_REBOOT=0"});
    const std::string log = ReadFileBytes(Log());
    EXPECT_NE(std::string::npos,
              log.find("Property(S): ProductName = " + ToUtf8(redistributable.productName)));
    EXPECT_NE(std::string::npos, log.find("Property(S): REBOOT = ReallySuppress"));
}

TEST_F(RestartsTest, AFailureOfTheMainPackageStandsWhateverTheRedistributableNeeds) {
    InstallSetupExe(dir.path());
    BuildPackage(redistributable, dir / RedistributableName());
    ChangePackage(
        dir / RedistributableName(),
        L"INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('ScheduleReboot', 6500)");
    main.errors = {{25000, L"Error [1]. Main package failure"}};
    main.failWithError = 25000;
    BuildPackage(main, dir / L"package.msi");
    const SetupRun run = Run({L"QZ_SETUP_EXIT_CODE=INSTALLER"});
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(IsProductRegistered(redistributable.productCode));
    EXPECT_FALSE(IsProductRegistered(main.productCode));
    EXPECT_EQ(ExitFileBytes(25000, 25000, L"Error 25000. Main package failure"),
              ReadFileBytes(dir / L"exit.txt"));
}

TEST_F(RestartsTest, AFailingRedistributableIsNamedAndTheMainPackageInstalls) {
    InstallSetupExe(dir.path());
    redistributable.errors = {{25000, L"Error [1]. Redistributable failure"}};
    redistributable.failWithError = 25000;
    BuildPackage(redistributable, dir / RedistributableName());
    BuildPackage(main, dir / L"package.msi");
    const SetupRun run = Run();
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(IsProductRegistered(redistributable.productCode));
    EXPECT_TRUE(IsProductRegistered(main.productCode));
    EXPECT_EQ(ExitFileBytes(0, 0, SystemText(0)), ReadFileBytes(dir / L"exit.txt"));
    Clean();

    // The line follows the redistributable's installer log; the package's
    // would be written over it, so here the package has no ProductVersion
    // and the run ends before its installer call.
    ChangePackage(dir / L"package.msi", L"DELETE FROM `Property` WHERE `Property`='ProductVersion'");
    Run();
    EXPECT_TRUE(LogHolds(Log(), L"QZSETUP:BOOTSTRAP:INFO:1603:Redistributable " + dir.path() +
                                    RedistributableName() +
                                    L" returned 1603; the main package is installed all the same.\n"
                                    L"Error description: " +
                                    SystemText(ERROR_INSTALL_FAILURE) + L".\r\n"))
        << ToUtf8(ReadUtf16File(Log()));
}

// The line is written before the first installer call, which Wine's
// installer log then writes over: here the package has no ProductVersion, so
// the run ends before the installer and the whole log is the bootstrapper's.
TEST_F(RestartsTest, EachPendingRestartSignalIsNamedBeforeTheInstallerIsCalled) {
    InstallSetupExe(dir.path());
    BuildPackage(main, dir / L"package.msi");
    ChangePackage(dir / L"package.msi", L"DELETE FROM `Property` WHERE `Property`='ProductVersion'");
    const NoRestartSignals none;
    ASSERT_TRUE(none.cleared());
    const std::wstring prefix = L"QZSETUP:BOOTSTRAP:INFO::A restart of the system is pending: ";
    {
        SCOPED_TRACE("none set");
        Run();
        for (const std::wstring& line : ReadLogLines(Log()))
            EXPECT_EQ(std::wstring::npos, line.find(prefix)) << ToUtf8(line);
    }
    for (const RestartSignal& signal : RestartSignals()) {
        SCOPED_TRACE(ToUtf8(signal.name));
        const SetRestartSignal set(signal);
        ASSERT_TRUE(set.set());
        Run();
        const std::vector<std::wstring> lines = ReadLogLines(Log());
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(prefix + signal.name + L".", lines[1]);
    }
    {
        SCOPED_TRACE("all three");
        std::vector<std::unique_ptr<SetRestartSignal>> all;
        for (const RestartSignal& signal : RestartSignals())
            all.push_back(std::make_unique<SetRestartSignal>(signal));
        Run();
        const std::vector<std::wstring> lines = ReadLogLines(Log());
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(prefix + L"PendingFileRenameOperations, Component Based Servicing\\RebootPending, "
                           L"WindowsUpdate\\Auto Update\\RebootRequired.",
                  lines[1]);
    }
}

TEST_F(RestartsTest, APendingRestartChangesNothingElse) {
    InstallSetupExe(dir.path());
    BuildPackage(main, dir / L"package.msi");
    const NoRestartSignals none;
    const SetRestartSignal set(RestartSignals()[1]);
    ASSERT_TRUE(set.set());
    const SetupRun run = Run({L"QZ_SETUP_EXIT_CODE=INSTALLER"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(IsProductRegistered(main.productCode));
    EXPECT_EQ(ExitFileBytes(0, 0, SystemText(0)), ReadFileBytes(dir / L"exit.txt"));
}

TEST_F(RestartsTest, APlanSaysWhatTheRunWouldDoOfRestarts) {
    InstallSetupExe(dir.path());
    BuildPackage(redistributable, dir / RedistributableName());
    BuildPackage(main, dir / L"package.msi");
    const NoRestartSignals none;
    ASSERT_TRUE(none.cleared());
    const RestartSignal& signal = RestartSignals()[2];
    const SetRestartSignal set(signal);
    ASSERT_TRUE(set.set());
    const SetupRun run = Run({L"QZ_SETUP_PLAN=plan.json"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(IsProductRegistered(redistributable.productCode));
    EXPECT_FALSE(IsProductRegistered(main.productCode));
    const PlanJson plan = ReadPlan(dir / L"plan.json");
    EXPECT_EQ(true, plan["moment"]["restartPending"]);
    EXPECT_EQ(PlanJson::array({PlanText(signal.name)}), plan["moment"]["restartSignals"]);
    EXPECT_EQ(" REBOOT=\"ReallySuppress\"", plan["redistributable"]["properties"]);
    const std::string line = PlanText(L"QZSETUP:BOOTSTRAP:INFO::A restart of the system is pending: " +
                                      std::wstring(signal.name) + L".");
    bool logged = false;
    for (const auto& entry : plan["log"])
        logged = logged || entry == line;
    EXPECT_TRUE(logged) << plan["log"].dump();
    EXPECT_EQ(std::vector<std::string>(), UndocumentedPlanFields(plan));
}

} // namespace
