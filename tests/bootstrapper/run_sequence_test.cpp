// The run as a deployment script sees it: exit codes, exit files and dialogs
// of the real qz-setup.exe, and the turning of outcomes into results.
#include <windows.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ios>
#include <stdexcept>

#include "bootstrapper/run_sequence.h"
#include "system/errors.h"
#include "support/package_builder.h"
#include "support/platform_deviations.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/win_owners.h"

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
        {"reboot as WinException", [] { throw WinException(3010); }, 3010,
         Ansi2Wide(WinException(3010).what())},
        {"runtime_error", [] { throw std::runtime_error("Failed to open help file."); }, 1,
         L"Failed to open help file."},
        {"ios failure",
         [] { throw std::ios_base::failure("Failed to open log file.", std::io_errc::stream); }, 1,
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
    // A package for the runs that must get past planning: package.msi, named with /f.
    void Package() {
        PackageSpec desc;
        desc.productCode = NewGuid();
        BuildPackage(desc, dir / L"package.msi");
    }
    std::wstring ExitFile() const { return dir / L"exit.txt"; }
    std::string ExitFileBytes() const { return ReadFileBytes(ExitFile()); }
};

TEST_F(SetupRunTest, RefusedCommandLineShowsDialogAndExits30665) {
    // Asking for unattended mode and an exit file does not help: a refused
    // command line leaves the settings empty.
    SetupOptions options;
    options.exitFileToWatch = ExitFile();
    const SetupRun run =
        RunSetup(dir.path(), {L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt", L"/p"}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 30665u);
    ASSERT_EQ(run.dialogs.size(), 1u);
    // The description is message 123 ("Missing argument.") inside message 115,
    // which adds its own period.
    EXPECT_EQ(run.dialogs[0],
              L"QZSETUP:BOOTSTRAP:ERR:30665:Invalid command-line string. \r\nErroneous string: /p.\r\n"
              L"Error description:Missing argument..\r\n");
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
        {"control file line without =",
         "# settings\nQZ_SETUP_PACKAGE_NAME=Agent\nbogus line\n",
         "",
         {},
         1,
         L"An error occured while loading %Dqz-setup.dat control file. Erroneous string: bogus line."},
        {"response file missing",
         "",
         "",
         {L"/r", L"missing.rsp"},
         2,
         L"Response file %Dmissing.rsp does not exist!"},
        {"response file named by the control file",
         "QZ_SETUP_RESPONSE_FILE=\"gone.rsp\"\n",
         "",
         {},
         2,
         L"Response file %Dgone.rsp does not exist!"},
        {"response file line without =",
         "",
         "A=1\r\nnot a setting\r\n",
         {L"/r", L"answers.rsp"},
         1,
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

// The exit file as the completion report writes it, in text mode: every line
// feed of the content becomes CR LF.
std::string ExitFileContent(int code, const std::wstring& text) {
    return ExitFileBytes(FinalExitCode(code) == 0 ? 0 : code, code, text);
}

// The system's text without its line end, as the run puts it into a message.
std::wstring Trimmed(std::wstring text) {
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    return text;
}

TEST_F(SetupRunTest, ExceptionsEndTheRunWithTheirCodes) {
    // On a drive that does not exist the directory chain of the log cannot be
    // made: a WinException whose number becomes the result.
    Package();
    {
        const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"Q:\\no\\such\\dir\\x.log",
                                                   L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_EQ(run.exitCode, 1u);
        const std::string bytes = ExitFileBytes();
        const int code = std::atoi(bytes.substr(bytes.find('\n') + 1).c_str());
        EXPECT_EQ(PlatformValue(Deviation::MissingDriveError), static_cast<DWORD>(code))
            << Describe(Deviation::MissingDriveError);
        EXPECT_EQ(bytes, ExitFileContent(code, SystemText(static_cast<DWORD>(code))));
    }
    // A folder of the log's path that another program holds for deletion
    // cannot be held, and is not used unheld: a stream failure, result code 1
    // with message 112.
    {
        const UniqueFileHandle holder = HeldForDeletion(dir / L"held");
        ASSERT_TRUE(holder.valid());
        DeleteFileW(ExitFile().c_str());
        const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"held\\x.log",
                                                   L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(ExitFileBytes(), "1\r\n1\r\nFailed to open log file.");
    }
}

TEST_F(SetupRunTest, AttendedFailureShowsBufferedLinesBeforeTheExitFileIsWritten) {
    // The log's folder cannot be held: messages 155 (with the system's
    // reason) and 129 wait in the early-message buffer, the attended user
    // sees them with the result line, and the exit file appears only once
    // the dialog is closed.
    Package();
    const UniqueFileHandle holder = HeldForDeletion(dir / L"held");
    ASSERT_TRUE(holder.valid());
    SetupOptions options;
    options.exitFileToWatch = ExitFile();
    const SetupRun run =
        RunSetup(dir.path(),
                 {L"/f", L"package.msi", L"/l", L"held\\x.log", L"QZ_SETUP_MODE=INSTALL", L"/e", L"exit.txt"},
                 options);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0],
              L"QZSETUP:BOOTSTRAP:ERR:32:Log file held\\x.log could not be made.\r\n"
              L"Error description: " +
                  Trimmed(SystemText(ERROR_SHARING_VIOLATION)) +
                  L"\r\n"
                  L"QZSETUP:BOOTSTRAP:ERR::Error occured at  Fnc : SetLogFile; Line : 55; .\r\n"
                  L"Error description: Failed to open log file..\r\n"
                  L"QZSETUP:BOOTSTRAP:ERR:1:Failed to open log file.\r\n");
    EXPECT_FALSE(run.exitFileWhileDialog[0]);
    EXPECT_EQ(ExitFileBytes(), "1\r\n1\r\nFailed to open log file.");
}

TEST_F(SetupRunTest, LogOpensInNewDirectoryWithBufferedLinesInOrder) {
    // A resource module that is not a module leaves message 116 in the
    // early-message buffer before the log opens. The package has no
    // ProductVersion, so the run ends with an error once the log is open,
    // before the installer writes to the same file.
    Package();
    ASSERT_NO_THROW(
        ChangePackage(dir / L"package.msi", L"DELETE FROM `Property` WHERE `Property`='ProductVersion'"));
    WriteFileBytes(dir / L"qz-setup.rsc", "not a module");
    const std::wstring log = dir / L"new\\deeper\\run.log";
    const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"new\\deeper\\run.log",
                                               L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_EQ(run.exitCode, 1u);
    const std::string exitFile = ExitFileBytes();
    const int code = std::atoi(exitFile.substr(exitFile.find('\n') + 1).c_str());
    ASSERT_NE(code, 0);

    const std::wstring text = ReadUtf16File(log);
    const std::wstring start =
        std::wstring(1, wchar_t(0xFEFF)) +
        L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.\r\n"
        L"QZSETUP:BOOTSTRAP:INFO::Failed to load qz-setup.rsc resource file. Defaulting to "
        L"inner resource messages.\r\n";
    // The result names the package and the property it could not read.
    const std::wstring end = L"QZSETUP:BOOTSTRAP:ERR:" + std::to_wstring(code) + L":Package " +
                             (dir / L"package.msi") +
                             L" has no ProductVersion property that could be read.\nError description: " +
                             Trimmed(SystemText(static_cast<DWORD>(code))) +
                             L"\r\nQZSETUP:BOOTSTRAP:INFO::Bootstrapper logging completed.\r\n";
    EXPECT_EQ(text.substr(0, start.size()), start) << ToUtf8(text);
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end) << ToUtf8(text);

    // An existing log is emptied by the next run.
    DeleteFileW((dir / L"qz-setup.rsc").c_str());
    RunSetup(dir.path(),
             {L"/f", L"package.msi", L"/l", L"new\\deeper\\run.log", L"QZ_SETUP_MODE=UNATTENDED"});
    const std::vector<std::wstring> lines = ReadLogLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.");
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated."),
        1);
}
