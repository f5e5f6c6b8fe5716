#include "planning/install_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_env.h"

namespace {

TEST(InstallerLogMode, FourModesAndTheirLetters) {
    const struct {
        bool trace, verbose;
        DWORD mode;
        const wchar_t* letters;
    } cases[] = {
        {false, false, 0xD7, L"iwemo"},
        {true, false, 0xBDF, L"iwearucmo"},
        {false, true, 0x34D7, L"iwemopvx"},
        {true, true, 0x3FDF, L"iwearucmopvx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "trace " << c.trace << ", verbose " << c.verbose);
        EXPECT_EQ(c.mode, InstallerLogMode(c.trace, c.verbose));
        EXPECT_EQ(c.letters, LogModeLetters(c.mode));
    }
}

TEST(MsiexecCommandLine, TheSameCallByHand) {
    EXPECT_EQ(L"msiexec.exe /i \"C:\\Setup\\Agent x64.msi\" INSTALLDIR=\"C:\\Program Files\\Agent\" "
              L"REBOOT=\"ReallySuppress\" /qn /liwemo+ \"C:\\Temp\\Agent_install.log\"",
              MsiexecCommandLine(L"C:\\Setup\\Agent x64.msi",
                                 L" INSTALLDIR=\"C:\\Program Files\\Agent\" REBOOT=\"ReallySuppress\"", true,
                                 0xD7, L"C:\\Temp\\Agent_install.log"));
    EXPECT_EQ(L"msiexec.exe /i \"a.msi\" /qf /liwearucmopvx+ \"a.log\"",
              MsiexecCommandLine(L"a.msi", L"", false, 0x3FDF, L"a.log"));
}

TEST(OperationName, EveryOperation) {
    EXPECT_STREQ("install", OperationName(InstallOperation::Install));
    EXPECT_STREQ("repair", OperationName(InstallOperation::Repair));
    EXPECT_STREQ("remove", OperationName(InstallOperation::Remove));
}

} // namespace
