// Waiting for a busy installer: the run's one deadline, looked at about once a
// second, and message 131 once per call that finds the installer busy. The
// test holds the installer's execution mutex itself.
#include "install/busy_wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diag/bootstrap_log.h"
#include "install/pre_install.h"
#include "support/package_builder.h"
#include "support/published_variables.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/machine_queries.h"
#include "system/win_owners.h"

namespace {

std::wstring Waiting(unsigned seconds) {
    return L"QZSETUP:BOOTSTRAP:INFO::Windows Installer is busy with another installation. Waiting up to " +
           std::to_wstring(seconds) + L" seconds.\r\n";
}

// The line of a wait whose time is used up (all `seconds` of it).
std::wstring GivenUp(unsigned seconds, const std::wstring& file) {
    return L"QZSETUP:BOOTSTRAP:INFO::Windows Installer is still busy with another installation after the " +
           std::to_wstring(seconds) +
           L" seconds that QZ_SETUP_BUSY_WAIT allows. The installer is not started for " + file + L".\r\n";
}

TEST(InstallerBusyWait, AFreeInstallerIsNotWaitedFor) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    InstallerBusyWait wait(5);
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(wait.WaitUntilFree(L"package.msi"));
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(L"", log.str());
}

TEST(InstallerBusyWait, OneDeadlineForTheWholeRun) {
    qztest::HeldInstallerMutex mutex;
    ASSERT_TRUE(mutex.held());
    std::wstringbuf log;
    LogStreamCapture capture(log);
    InstallerBusyWait wait(2);

    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(wait.WaitUntilFree(L"package.msi"));
    const ULONGLONG first = GetTickCount64() - start;
    EXPECT_GE(first, 1900u);
    EXPECT_LT(first, 10000u);

    EXPECT_EQ(Waiting(2) + GivenUp(2, L"package.msi"), log.str());

    // The next call has no time left: it gives up at once, and says so
    // without a wait of no seconds.
    start = GetTickCount64();
    EXPECT_FALSE(wait.WaitUntilFree(L"next.msi"));
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(Waiting(2) + GivenUp(2, L"package.msi") + GivenUp(2, L"next.msi"), log.str());

    // Once the installer is free, a call goes ahead whatever the deadline:
    // the package runs when the redistributable's wait used up the time.
    mutex.release();
    EXPECT_TRUE(wait.WaitUntilFree(L"last.msi"));
    EXPECT_EQ(Waiting(2) + GivenUp(2, L"package.msi") + GivenUp(2, L"next.msi"), log.str());
}

// The run makes its wait from its settings: only an unattended run with
// QZ_SETUP_BUSY_WAIT waits, and each run has a deadline of its own, so a
// second run in the same process waits its whole time again.
TEST(InstallerBusyWait, EachRunMakesItsOwnWaitFromItsSettings) {
    qztest::HeldInstallerMutex mutex;
    ASSERT_TRUE(mutex.held());
    const VariableMap unattended = {{QZ_SETUP_MODE, L"UNATTENDED"}, {QZ_SETUP_BUSY_WAIT, L"1"}};
    const struct {
        const char* what;
        VariableMap variables;
        bool waits;
    } cases[] = {
        {"attended", {{QZ_SETUP_MODE, L"INSTALL"}, {QZ_SETUP_BUSY_WAIT, L"1"}}, false},
        {"no mode", {{QZ_SETUP_BUSY_WAIT, L"1"}}, false},
        {"unattended without the setting", {{QZ_SETUP_MODE, L"UNATTENDED"}}, false},
        {"unattended", unattended, true},
        {"the next unattended run", unattended, true},
        {"unattended removal", {{QZ_SETUP_MODE, L"UNATTENDED_UNINSTALL"}, {QZ_SETUP_BUSY_WAIT, L"1"}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const qztest::PublishedVariables published(c.variables);
        std::wstringbuf log;
        LogStreamCapture capture(log);
        InstallerBusyWait wait = InstallerBusyWait::ForRun();
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(!c.waits, wait.WaitUntilFree(L"package.msi"));
        const ULONGLONG took = GetTickCount64() - start;
        if (c.waits) {
            EXPECT_GE(took, 900u);
            EXPECT_EQ(Waiting(1) + GivenUp(1, L"package.msi"), log.str());
        } else {
            EXPECT_LT(took, 900u);
            EXPECT_EQ(L"", log.str());
        }
    }
}

TEST(InstallerBusyWait, GoesAheadSoonAfterTheInstallerIsFree) {
    qztest::HeldInstallerMutex mutex;
    ASSERT_TRUE(mutex.held());
    std::wstringbuf log;
    LogStreamCapture capture(log);
    InstallerBusyWait wait(60);

    std::thread release([&mutex] {
        Sleep(1500);
        mutex.release();
    });
    const ULONGLONG start = GetTickCount64();
    const bool free = wait.WaitUntilFree(L"package.msi");
    const ULONGLONG waited = GetTickCount64() - start;
    release.join();
    EXPECT_TRUE(free);
    EXPECT_GE(waited, 1400u);
    EXPECT_LT(waited, 20000u) << "looked again about once a second";
    EXPECT_EQ(Waiting(60), log.str());
}

// The built program in a folder with a package, while this test holds the
// installer's mutex (Wine's own installer does not take it).
class BusyInstallerRun : public ::testing::Test {
protected:
    void SetUp() override {
        qztest::InstallSetupExe(m_dir.path());
        qztest::PackageSpec desc;
        desc.productName = L"QZ Busy Agent";
        desc.installFolder = L"QZ Busy Agent";
        desc.productCode = m_productCode = qztest::NewGuid();
        qztest::BuildPackage(desc, m_dir / L"package.msi");
        ASSERT_TRUE(m_mutex.held());
    }
    void TearDown() override { qztest::RemoveProduct(m_productCode); }

    // Runs it and says how long the run took, in milliseconds.
    qztest::SetupRun Run(const std::vector<std::wstring>& arguments, ULONGLONG& took) {
        const ULONGLONG start = GetTickCount64();
        qztest::SetupRun run = qztest::RunSetup(m_dir.path(), arguments);
        took = GetTickCount64() - start;
        return run;
    }

    qztest::TempDir m_dir;
    std::wstring m_productCode;
    qztest::HeldInstallerMutex m_mutex;
};

TEST_F(BusyInstallerRun, HeldThroughoutTheRunEndsAsABusyInstaller) {
    ULONGLONG took = 0;
    const qztest::SetupRun run = Run({L"/f", L"package.msi", L"/l", L"setup.log", L"QZ_SETUP_MODE=UNATTENDED",
                                      L"/e", L"exit.txt", L"QZ_SETUP_BUSY_WAIT=2"},
                                     took);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_GE(took, 1900u);
    EXPECT_FALSE(qztest::IsProductRegistered(m_productCode));
    std::wstring text = qztest::SystemText(ERROR_INSTALL_ALREADY_RUNNING);
    text = text.substr(0, text.find_first_of(L"\r\n"));
    const std::string exitFile = qztest::ReadFileBytes(m_dir / L"exit.txt");
    EXPECT_EQ("1618\r\n1618\r\n" + qztest::ToUtf8(text),
              exitFile.substr(0, 12 + qztest::ToUtf8(text).size()));
    // The installer was never called, so its log did not overwrite the wait.
    const std::vector<std::wstring> lines = qztest::ReadLogLines(m_dir / L"setup.log");
    const std::wstring waiting = Waiting(2).substr(0, Waiting(2).size() - 2);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), waiting));
    const std::wstring givenUp = GivenUp(2, m_dir / L"package.msi");
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), givenUp.substr(0, givenUp.size() - 2)));
    const auto result = std::find_if(lines.begin(), lines.end(), [](const std::wstring& line) {
        return line.rfind(L"QZSETUP:BOOTSTRAP:ERR:1618:", 0) == 0;
    });
    EXPECT_NE(lines.end(), result);
}

TEST_F(BusyInstallerRun, InstallsOnceTheOtherInstallationEnds) {
    std::thread release([this] {
        Sleep(3000);
        m_mutex.release();
    });
    ULONGLONG took = 0;
    const qztest::SetupRun run = Run(
        {L"/f", L"package.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt", L"QZ_SETUP_BUSY_WAIT=600"},
        took);
    release.join();
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_GE(took, 2900u);
    EXPECT_TRUE(qztest::IsProductRegistered(m_productCode));
}

TEST_F(BusyInstallerRun, AnAttendedRunDoesNotWait) {
    // Were it to wait, the run would outlast the runner's time-out.
    ULONGLONG took = 0;
    const qztest::SetupRun run =
        Run({L"/f", L"package.msi", L"QZ_SETUP_MODE=INSTALL", L"QZ_SETUP_BUSY_WAIT=600"}, took);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(qztest::IsProductRegistered(m_productCode));
}

TEST_F(BusyInstallerRun, TheRedistributableIsGivenUpAndThePackageRunHasNoTimeLeft) {
    qztest::PackageSpec redistributable;
    redistributable.productName = L"QZ Busy Runtime";
    redistributable.installFolder = L"QZ Busy Runtime";
    redistributable.productCode = qztest::NewGuid();
    redistributable.platform = GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"x64" : L"Intel";
    qztest::BuildPackage(redistributable,
                         m_dir / RedistributableFileName(GetMachineFacts(), PROCESSOR_ARCHITECTURE_INTEL));

    ULONGLONG took = 0;
    const qztest::SetupRun run = Run({L"/f", L"package.msi", L"/l", L"setup.log", L"QZ_SETUP_MODE=UNATTENDED",
                                      L"QZ_SETUP_EXIT_CODE=INSTALLER", L"QZ_SETUP_BUSY_WAIT=2"},
                                     took);
    qztest::RemoveProduct(redistributable.productCode);
    EXPECT_EQ(1618u, run.exitCode);
    EXPECT_GE(took, 1900u);
    EXPECT_FALSE(qztest::IsProductRegistered(m_productCode));
    // One wait for the whole run: the redistributable's took it all, and
    // each installation that is not started says so.
    const std::vector<std::wstring> lines = qztest::ReadLogLines(m_dir / L"setup.log");
    std::vector<std::wstring> waits;
    for (const auto& line : lines)
        if (line.find(L"Windows Installer is") != std::wstring::npos)
            waits.push_back(line + L"\r\n");
    const std::wstring redistributablePath =
        m_dir / RedistributableFileName(GetMachineFacts(), PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ((std::vector<std::wstring>{Waiting(2), GivenUp(2, redistributablePath),
                                         GivenUp(2, m_dir / L"package.msi")}),
              waits);
}

} // namespace
