// qz-rsc writing onto a disk that fills up: the reason it gives is the
// system's real one, never "The operation completed successfully", and
// neither the output nor its scratch file is left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/robustness.h"
#include "support/test_env.h"

using namespace qztest;

namespace {

TEST(RscFullDisk, AWriteThatDoesNotFitNamesTheReason) {
    const PreparedPlace drive = FullDiskDrive();
    if (!drive.available)
        GTEST_SKIP() << "no small drive: " << ToUtf8(drive.why);
    TempDir dir;
    const std::wstring rsc = BinDir() + L"qz-rsc.exe";
    ProcessOptions options;
    options.outputFile = dir / L"output.txt";
    ASSERT_EQ(0u, RunProgramArgs(rsc, {L"dump", SetupExePath(), dir / L"messages.txt"}, options).exitCode);
    const std::string dump = ReadFileBytes(dir / L"messages.txt");
    ASSERT_GT(dump.size(), 3u * 4096u);

    const struct {
        const char* what;
        std::vector<std::wstring> arguments;
        std::wstring output;
    } cases[] = {
        {"a dump", {L"dump", SetupExePath(), drive.path + L"messages.txt"}, drive.path + L"messages.txt"},
        {"a module",
         {L"build", dir / L"messages.txt", drive.path + L"qz-setup.rsc"},
         drive.path + L"qz-setup.rsc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Room for a page of it, no more.
        ASSERT_TRUE(FillDriveLeaving(drive, 1));
        const ProcessResult result = RunProgramArgs(rsc, c.arguments, options);
        const std::string output = ReadFileBytes(options.outputFile);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(3u, result.exitCode) << output;
        EXPECT_NE(std::string::npos, output.find("cannot be written")) << output;
        EXPECT_EQ(std::string::npos, output.find("completed successfully")) << output;
        EXPECT_EQ(std::string::npos, output.find("(0)")) << output;
        EXPECT_FALSE(PathExists(c.output));
        EXPECT_FALSE(PathExists(c.output + L".qz-rsc-new"));
        std::printf("[ OUTCOME ] %s: %s", c.what, output.c_str());
    }
    DeleteFileW((drive.path + L"filler").c_str());
}

} // namespace
