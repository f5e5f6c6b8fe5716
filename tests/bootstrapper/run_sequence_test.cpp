// The run as a deployment script sees it: exit codes, exit files and dialogs
// of the real qz-setup.exe, and the turning of outcomes into results.
#include <gtest/gtest.h>

#include <ios>
#include <stdexcept>

#include "bootstrapper/run_sequence.h"
#include "diag/errors.h"
#include "support/setup_runner.h"
#include "support/test_env.h"

using namespace qztest;

namespace {

std::wstring Ansi2Wide(const std::string& text) {
    std::wstring wide(text.size() * 2 + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return wide;
}

struct ThrownOutcome {
    const char* name;
    void (*raise)();
    int code;
    std::wstring text;
};

} // namespace

TEST(RunResultTest, ExitCodeIsZeroOnlyForSuccessAndReboots) {
    const struct {
        int code;
        int exitCode;
    } cases[] = {{0, 0}, {1641, 0}, {3010, 0}, {1, 1}, {2, 1}, {1602, 1}, {1603, 1}, {30665, 1}, {-1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(FinalExitCode(c.code), c.exitCode);
    }
}

TEST(RunResultTest, EscapingExceptionsBecomeResultCodeAndText) {
    std::wstring unexpected(L"Unexpected exception caught.");
    const ThrownOutcome cases[] = {
        {"WinException", [] { throw WinException(5); }, 5, SystemText(5)},
        {"MSIException", [] { throw MSIException(1627, 0); }, 1627, SystemText(1627)},
        {"reboot as WinException", [] { throw WinException(3010); }, 3010, SystemText(3010)},
        {"runtime_error", [] { throw std::runtime_error("Failed to open help file."); }, 1,
         L"Failed to open help file."},
        {"ios failure", [] { throw std::ios_base::failure("Failed to open log file.", std::io_errc::stream); }, 1,
         Ansi2Wide(std::ios_base::failure("Failed to open log file.", std::io_errc::stream).what())},
        {"bad_alloc", [] { throw std::bad_alloc(); }, 1, Ansi2Wide(std::bad_alloc().what())},
        {"an int", [] { throw 42; }, 1, unexpected},
        {"a string literal", [] { throw "text"; }, 1, unexpected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstringbuf buffer;
        VariableMap variables;
        RunResult result{L"initial", 0, buffer, variables};
        try {
            c.raise();
        } catch (...) {
            HandleRunException(result);
        }
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.text, c.text);
    }
}

class SetupRunTest : public ::testing::Test {
protected:
    TempDir dir;
    std::wstring ExitFile() const { return dir / L"exit.txt"; }
    std::string ExitFileBytes() const { return ReadFileBytes(ExitFile()); }
};

TEST_F(SetupRunTest, RefusedCommandLineShowsDialogAndExits30665) {
    // Asking for unattended mode and an exit file does not help: a refused
    // command line leaves the settings empty.
    SetupOptions options;
    options.exitFileToWatch = ExitFile();
    const SetupRun run = RunSetup(dir.path(), {L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt", L"/p"}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 30665u);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], L"QZSETUP:BOOTSTRAP:ERR:30665:Invalid command-line string. \rErroneous string: /p.\r"
                              L"Error description:Missing argument.\r");
    EXPECT_FALSE(PathExists(ExitFile()));
}

TEST_F(SetupRunTest, EarlyEndsReturnTheirResultCode) {
    const struct {
        const char* name;
        std::string controlFile; // empty: none
        std::string responseFile;
        std::vector<std::wstring> arguments;
        DWORD exitCode;
        std::wstring text; // third part of the exit file; %D stands for the directory
    } cases[] = {
        {"control file line without =", "# settings\nQZ_SETUP_PACKAGE_NAME=Agent\nbogus line\n", "", {}, 1,
         L"An error occured while loading %Dqz-setup.dat control file. Erroneous string: bogus line."},
        {"response file missing", "", "", {L"/r", L"missing.rsp"}, 2, L"Response file %Dmissing.rsp does not exist!"},
        {"response file named by the control file", "QZ_SETUP_RESPONSE_FILE=\"gone.rsp\"\n", "", {}, 2,
         L"Response file %Dgone.rsp does not exist!"},
        {"response file line without =", "", "A=1\r\nnot a setting\r\n", {L"/r", L"answers.rsp"}, 1,
         L"An error occured while loading %Danswers.rsp response file. Erroneous string: not a setting."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir scratch;
        if (!c.controlFile.empty())
            WriteFileBytes(scratch / L"qz-setup.dat", c.controlFile);
        if (!c.responseFile.empty())
            WriteFileBytes(scratch / L"answers.rsp", c.responseFile);
        std::vector<std::wstring> arguments = c.arguments;
        arguments.insert(arguments.end(), {L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        const SetupRun run = RunSetup(scratch.path(), arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.dialogs.empty()) << "unattended runs show no dialog";
        std::wstring text = c.text;
        text.replace(text.find(L"%D"), 2, scratch.path());
        const std::string code = std::to_string(c.exitCode);
        EXPECT_EQ(ReadFileBytes(scratch / L"exit.txt"), code + "\r\n" + code + "\r\n" + ToUtf8(text));
    }
}

TEST_F(SetupRunTest, ExceptionsEndTheRunWithTheirCodes) {
    // The log cannot be created: on a drive that does not exist the directory
    // chain fails (WinException, its error number), where a directory stands
    // the file cannot be opened (a stream failure, code 1).
    CreateDirectoryW((dir / L"taken.log").c_str(), nullptr);
    const struct {
        const char* name;
        std::wstring logFile;
        DWORD exitCode;
        std::string exitFile;
    } cases[] = {
        {"no such drive", L"Q:\\no\\such\\dir\\x.log", 1, "1\r\n3\r\n" + ToUtf8(SystemText(3))},
        {"log is a directory", L"taken.log", 1, "1\r\n1\r\nFailed to open log file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(ExitFile().c_str());
        const SetupRun run =
            RunSetup(dir.path(), {L"/l", c.logFile, L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(ExitFileBytes(), c.exitFile);
    }
}

TEST_F(SetupRunTest, AttendedFailureShowsBufferedLinesBeforeTheExitFileIsWritten) {
    // The log file is a directory: message 129 waits in the early-message
    // buffer, the attended user sees it with the result line, and the exit
    // file appears only once the dialog is closed.
    CreateDirectoryW((dir / L"taken.log").c_str(), nullptr);
    SetupOptions options;
    options.exitFileToWatch = ExitFile();
    const SetupRun run = RunSetup(dir.path(), {L"/l", L"taken.log", L"/e", L"exit.txt"}, options);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], L"QZSETUP:BOOTSTRAP:ERR::Error occured at  Fnc : SetLogFile; Line : 55; .\r"
                              L"Error description: Failed to open log file..\r"
                              L"QZSETUP:BOOTSTRAP:ERR:1:Failed to open log file.\r");
    EXPECT_FALSE(run.exitFileWhileDialog[0]);
    EXPECT_EQ(ExitFileBytes(), "1\r\n1\r\nFailed to open log file.");
}

TEST_F(SetupRunTest, LogOpensInNewDirectoryWithBufferedLinesInOrder) {
    // A resource module that is not a module leaves message 116 in the
    // early-message buffer before the log opens.
    WriteFileBytes(dir / L"qz-setup.rsc", "not a module");
    const std::wstring log = dir / L"new\\deeper\\run.log";
    const SetupRun run = RunSetup(dir.path(), {L"/l", L"new\\deeper\\run.log", L"QZ_SETUP_MODE=UNATTENDED"});
    EXPECT_TRUE(run.dialogs.empty());
    bool bom = false;
    const std::vector<std::wstring> lines = ReadLogLines(log, &bom);
    ASSERT_TRUE(bom);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.");
    EXPECT_EQ(lines[1], L"QZSETUP:BOOTSTRAP:INFO::Failed to load qz-setup.rsc resource file. Defaulting to inner "
                        L"resource messages.");
    EXPECT_EQ(lines.back(), L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging completed.");
    // The result line comes right before the closing line.
    EXPECT_EQ(lines[lines.size() - 2].rfind(L"QZSETUP:BOOTSTRAP:", 0), 0u);
    EXPECT_EQ(ReadUtf16File(log).substr(ReadUtf16File(log).size() - 2), L"\r\n");
}
