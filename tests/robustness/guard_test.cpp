// The guard every robustness case runs under: Wine's crash debugger is
// replaced for the whole test program, and a crash, an abort or a hang of a
// child is seen as such (exit code read on the Windows side, no dialog left
// waiting, no backtrace).
#include <gtest/gtest.h>

#include "support/robustness.h"
#include "support/test_env.h"

using namespace qztest;

namespace {

class CrashSinkEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_sink.reset(new CrashSink); }
    void TearDown() override { m_sink.reset(); }

private:
    std::unique_ptr<CrashSink> m_sink;
};

::testing::Environment* const g_crashSink = ::testing::AddGlobalTestEnvironment(new CrashSinkEnvironment);

GuardedRun RunProbe(const std::wstring& mode) {
    TempDir dir;
    GuardedOptions options;
    options.process.workingDir = dir.path();
    options.process.timeoutMs = 30000;
    return RunProgramGuarded(BinDir() + L"qz-transform-probe.exe", mode, options);
}

} // namespace

TEST(GuardTest, ACrashEndsAtOnceWithItsCodeAndAReport) {
    const GuardedRun run = RunProbe(L"--crash");
    EXPECT_EQ(run.exitCode, 0xC0000005u) << run.Describe();
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.unexpectedWindows.empty()) << run.Describe();
    ASSERT_EQ(run.crashReports.size(), 1u) << run.Describe();
    EXPECT_NE(run.crashReports[0].find(L"qz-transform-probe.exe"), std::wstring::npos);
    EXPECT_TRUE(run.Crashed());
}

TEST(GuardTest, AnAbortIsSeenAndEnded) {
    // The runtime's abort shows a message box in a GUI program; a console
    // program writes its message and ends with 3. Either way it counts.
    const GuardedRun run = RunProbe(L"--abort");
    EXPECT_TRUE(run.Crashed()) << run.Describe();
    EXPECT_FALSE(run.timedOut) << run.Describe();
}

TEST(GuardTest, ACleanEndIsNotACrash) {
    const GuardedRun run = RunProbe(L"--exit 1618");
    EXPECT_EQ(run.exitCode, 1618u);
    EXPECT_FALSE(run.Crashed()) << run.Describe();
}
