// Waiting for a busy installer: the run's one deadline, looked at about once a
// second, and message 131 once per call that finds the installer busy. The
// test holds the installer's execution mutex itself.
#include "install/busy_wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <thread>

#include "diag/bootstrap_log.h"
#include "system/win_owners.h"

namespace {

UniqueKernelHandle HoldInstallerMutex() {
    return UniqueKernelHandle(CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute"));
}

std::wstring Waiting(unsigned seconds) {
    return L"QZSETUP:BOOTSTRAP:INFO::Windows Installer is busy with another installation. Waiting up to " +
           std::to_wstring(seconds) + L" seconds.\r\n";
}

TEST(InstallerBusyWait, AFreeInstallerIsNotWaitedFor) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    InstallerBusyWait wait(5);
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(wait.WaitUntilFree());
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(L"", log.str());
}

TEST(InstallerBusyWait, OneDeadlineForTheWholeRun) {
    UniqueKernelHandle mutex = HoldInstallerMutex();
    ASSERT_TRUE(mutex.valid());
    std::wstringbuf log;
    LogStreamCapture capture(log);
    InstallerBusyWait wait(2);

    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(wait.WaitUntilFree());
    const ULONGLONG first = GetTickCount64() - start;
    EXPECT_GE(first, 1900u);
    EXPECT_LT(first, 10000u);

    // The next call has no time left: it gives up at once.
    start = GetTickCount64();
    EXPECT_FALSE(wait.WaitUntilFree());
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(Waiting(2) + Waiting(0), log.str());

    // Once the installer is free, a call goes ahead whatever the deadline.
    mutex.reset();
    EXPECT_TRUE(wait.WaitUntilFree());
    EXPECT_EQ(Waiting(2) + Waiting(0), log.str());
}

TEST(InstallerBusyWait, GoesAheadSoonAfterTheInstallerIsFree) {
    UniqueKernelHandle mutex = HoldInstallerMutex();
    ASSERT_TRUE(mutex.valid());
    std::wstringbuf log;
    LogStreamCapture capture(log);
    InstallerBusyWait wait(60);

    std::thread release([&mutex] {
        Sleep(1500);
        mutex.reset();
    });
    const ULONGLONG start = GetTickCount64();
    const bool free = wait.WaitUntilFree();
    const ULONGLONG waited = GetTickCount64() - start;
    release.join();
    EXPECT_TRUE(free);
    EXPECT_GE(waited, 1400u);
    EXPECT_LT(waited, 20000u) << "looked again about once a second";
    EXPECT_EQ(Waiting(60), log.str());
}

} // namespace
