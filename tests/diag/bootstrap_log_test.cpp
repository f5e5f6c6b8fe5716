#include "diag/bootstrap_log.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "support/module_texts.h"
#include "support/tamper.h"
#include "support/test_env.h"
#include "system/win_owners.h"
#include "child_process.h"

namespace {

const wchar_t kLogVariable[] = L"QZ_DIAG_LOG";

// What the logging child writes, up to the closing line at its exit: the
// lines written before the log opened, then (when there is one) the report of
// a resource module that failed to load at the first lookup, in SetLogFile.
const std::wstring kChildEarly = L"\xFEFF"
                                 L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.\r\n"
                                 L"QZSETUP:BOOTSTRAP:INFO::early info\r\n"
                                 L"QZSETUP:BOOTSTRAP:ERR:5:early error\r\n"
                                 L"QZSETUP:BOOTSTRAP:INFO::second info\r\n";
const std::wstring kModuleFailedLine = L"QZSETUP:BOOTSTRAP:INFO::Failed to load qz-setup.rsc resource file. "
                                       L"Defaulting to inner resource messages.\r\n";
const std::wstring kChildLater = L"QZSETUP:BOOTSTRAP:INFO:0:after\r\n"
                                 L"QZSETUP:BOOTSTRAP:ERR::line1\nline2\r\n";
const std::wstring kClosingLine = L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging completed.\r\n";

TEST(LogLine, FormatsPrefixCodeAndTextUnchanged) {
    const DWORD zero = 0;
    const DWORD topBit = 0x80070005;
    const DWORD installFailure = 1603;
    struct Case {
        const DWORD* code;
        std::wstring text;
        LogKind kind;
        std::wstring line;
    };
    const Case cases[] = {
        {nullptr, L"Bootstrapper logging initiated.", LOG_INFO,
         L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.\r\n"},
        {&zero, L"done", LOG_ERROR, L"QZSETUP:BOOTSTRAP:ERR:0:done\r\n"},
        {&installFailure, L"failed", LOG_ERROR, L"QZSETUP:BOOTSTRAP:ERR:1603:failed\r\n"},
        {&topBit, L"denied", LOG_ERROR, L"QZSETUP:BOOTSTRAP:ERR:2147942405:denied\r\n"},
        {nullptr, L"\nfirst\nsecond\n", LOG_INFO, L"QZSETUP:BOOTSTRAP:INFO::\nfirst\nsecond\n\r\n"},
        {nullptr, L"", LOG_ERROR, L"QZSETUP:BOOTSTRAP:ERR::\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.line));
        EXPECT_EQ(c.line, FormatLogLine(c.code, c.text, c.kind));

        std::wstringbuf log;
        LogStreamCapture capture(log);
        if (c.code)
            WriteLogLine(*c.code, c.text, c.kind);
        else
            WriteLogLine(c.text, c.kind);
        EXPECT_EQ(c.line, log.str());
    }
}

// Points the two streams at two different buffers, to see which one a line takes.
class SeparateStreams {
public:
    SeparateStreams() : m_out(std::wcout.rdbuf(&info)), m_err(std::wcerr.rdbuf(&error)) {}
    ~SeparateStreams() {
        std::wcout.rdbuf(m_out);
        std::wcerr.rdbuf(m_err);
    }
    std::wstringbuf info;
    std::wstringbuf error;

private:
    std::wstreambuf* m_out;
    std::wstreambuf* m_err;
};

TEST(LogLine, KindChoosesTheStreamAndStreamFormattingDoesNotApply) {
    SeparateStreams streams;
    std::wcout.width(80);
    std::wcout.fill(L'*');
    std::wcerr.width(80);
    WriteLogLine(L"to information", LOG_INFO);
    WriteLogLine(7, L"to error", LOG_ERROR);
    std::wcout.width(0);
    std::wcout.fill(L' ');
    std::wcerr.width(0);
    EXPECT_EQ(L"QZSETUP:BOOTSTRAP:INFO::to information\r\n", streams.info.str());
    EXPECT_EQ(L"QZSETUP:BOOTSTRAP:ERR:7:to error\r\n", streams.error.str());
}

TEST(SetLogFile, UnopenableFileRaisesMessage112AndLogsIntoTheEarlyBuffer) {
    qztest::TempDir dir;
    // A folder of the log's path that another program holds open for
    // deletion: it cannot be held, and is not used unheld.
    const UniqueFileHandle holder = qztest::HeldForDeletion(dir / L"held");
    ASSERT_TRUE(holder.valid());
    const std::wstring unopenable = dir / L"held\\run.log";
    std::wstring reason = qztest::SystemText(ERROR_SHARING_VIOLATION);
    while (!reason.empty() && (reason.back() == L'\r' || reason.back() == L'\n'))
        reason.pop_back();

    std::wstringbuf early(std::ios_base::in | std::ios_base::out);
    LogStreamCapture capture(early);
    std::string message;
    ASSERT_TRUE(LoadResourceMessageA(IDS_LOG_OPEN_FAILED, message));
    try {
        SetLogFile(unopenable, early);
        ADD_FAILURE() << "did not throw";
    } catch (const std::ios_base::failure& e) {
        EXPECT_EQ(message, e.what());
        EXPECT_EQ(std::make_error_code(std::io_errc::stream), e.code());
        // The system's reason first, with its code, then the failure.
        EXPECT_EQ(L"QZSETUP:BOOTSTRAP:ERR:32:Log file " + unopenable +
                      L" could not be made.\nError description: " + reason +
                      L"\r\n"
                      L"QZSETUP:BOOTSTRAP:ERR::Error occured at  Fnc : SetLogFile; Line : 55; .\nError "
                      L"description: " +
                      std::wstring(_Mb2Uni(e.what()).get()) + L".\r\n",
                  early.str());
    }
    EXPECT_FALSE(IsLogFileOpen());

    // A directory chain that cannot be made stops before any file is opened.
    qztest::WriteFileBytes(dir / L"plain", "a file, not a directory");
    early.str(std::wstring());
    EXPECT_THROW(SetLogFile(dir / L"plain\\sub\\log.txt", early), WinException);
    EXPECT_FALSE(IsLogFileOpen());
    EXPECT_FALSE(qztest::PathExists(dir / L"plain\\sub"));
}

// ------------------------------------------------ in processes of their own

TEST(DiagChild, DISABLED_WritesLog) {
    const std::wstring path = diagtest::ChildSetting(kLogVariable);
    ASSERT_FALSE(path.empty());
    std::wstringbuf early(std::ios_base::in | std::ios_base::out);
    LogStreamCapture capture(early);
    WriteLogLine(L"early info", LOG_INFO);
    WriteLogLine(5, L"early error", LOG_ERROR);
    WriteLogLine(L"second info", LOG_INFO);
    ASSERT_FALSE(IsLogFileOpen());

    SetLogFile(path, early);
    EXPECT_TRUE(IsLogFileOpen());
    EXPECT_EQ(L"", early.str());
    WriteLogLine(0, L"after", LOG_INFO);
    WriteLogLine(L"line1\nline2", LOG_ERROR);
    // An error line reaches the file at once, with every line before it.
    const std::wstring log = qztest::ReadUtf16File(path);
    EXPECT_TRUE(log == kChildEarly + kChildLater || log == kChildEarly + kModuleFailedLine + kChildLater)
        << qztest::ToUtf8(log);
    diagtest::MarkChildDone();
}

TEST(DiagChild, DISABLED_OpensLogWithModule) {
    const std::wstring path = diagtest::ChildSetting(kLogVariable);
    ASSERT_FALSE(path.empty());
    std::wstringbuf early(std::ios_base::in | std::ios_base::out);
    LogStreamCapture capture(early);
    SetLogFile(path, early);
    diagtest::MarkChildDone();
}

// The log opened where another program holds a file at its name: the child
// reports where it went; while it holds its log, others cannot rename or
// delete it.
TEST(DiagChild, DISABLED_LogsWhereItCan) {
    const std::wstring path = diagtest::ChildSetting(kLogVariable);
    ASSERT_FALSE(path.empty());
    std::wstringbuf early(std::ios_base::in | std::ios_base::out);
    LogStreamCapture capture(early);
    WriteLogLine(L"early info", LOG_INFO);
    const std::wstring used = SetLogFile(path, early);
    // Left for an attended user: the line that says where the log went, if anywhere else.
    const std::wstring notice = used == path
                                    ? L""
                                    : L"QZSETUP:BOOTSTRAP:INFO::Log file " + path +
                                          L" is held by another program and cannot be replaced. This "
                                          L"run logs to " +
                                          used + L".\r\n";
    EXPECT_EQ(notice, early.str());
    // The installer is handed a path that still names this very file.
    EXPECT_NO_THROW(ConfirmLogFile(used, L"here"));
    EXPECT_THROW(ConfirmLogFile(used + L".other", L"here"), std::ios_base::failure);
    const qztest::ChangeAttempts attempts = qztest::TryToChange(used);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), attempts.rename);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), attempts.remove);
    qztest::WriteFileBytes(diagtest::ChildSetting(L"QZ_DIAG_USED"), qztest::ToUtf8(used));
    diagtest::MarkChildDone();
}

TEST(BootstrapLog, AHeldNameGivesAFreshOneAndTheLogIsHeldItself) {
    qztest::TempDir dir;
    const std::wstring used = dir / L"used.txt";
    qztest::ProcessOptions options;
    options.workingDir = dir.path();
    options.setEnv[L"QZ_DIAG_USED"] = used;
    {
        SCOPED_TRACE("a free name");
        options.setEnv[kLogVariable] = dir / L"free_install.log";
        ASSERT_TRUE(diagtest::RunChild(L"LogsWhereItCan", options).passed());
        EXPECT_EQ(qztest::ToUtf8(dir / L"free_install.log"), qztest::ReadFileBytes(used));
    }
    {
        SCOPED_TRACE("a name held by another program");
        const std::wstring held = dir / L"held_install.log";
        qztest::WriteFileBytes(held, "held by another program");
        qztest::WriteFileBytes(dir / L"held_install-1.log", "an earlier run's");
        const UniqueFileHandle other(CreateFileW(held.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(other.valid());
        options.setEnv[kLogVariable] = held;
        ASSERT_TRUE(diagtest::RunChild(L"LogsWhereItCan", options).passed());
        // The first fresh name beside it that nothing stands at.
        const std::wstring fresh = dir / L"held_install-2.log";
        EXPECT_EQ(qztest::ToUtf8(fresh), qztest::ReadFileBytes(used));
        EXPECT_EQ("held by another program", qztest::ReadFileBytes(held));
        EXPECT_EQ("an earlier run's", qztest::ReadFileBytes(dir / L"held_install-1.log"));
        EXPECT_EQ(L"\xFEFF"
                  L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging initiated.\r\n"
                  L"QZSETUP:BOOTSTRAP:INFO::Log file " +
                      held + L" is held by another program and cannot be replaced. This run logs to " +
                      fresh +
                      L".\r\n"
                      L"QZSETUP:BOOTSTRAP:INFO::early info\r\n"
                      // The check of a name that is not the log's.
                      L"QZSETUP:BOOTSTRAP:ERR::Error occured at here.\n"
                      L"Error description: Failed to open log file..\r\n" +
                      kClosingLine,
                  qztest::ReadUtf16File(fresh));
    }
}

TEST(BootstrapLog, HoldsTheWholeRunInOrderAndClosesAtExit) {
    struct Case {
        const char* name;
        std::wstring relativePath;
        std::string previousContent; // empty: no file before
        bool brokenModule;           // a qz-setup.rsc that is no module beside the program
    };
    const Case cases[] = {
        {"directories created", L"not\\there\\yet\\setup.log", "", false},
        {"earlier log emptied", L"setup.log", std::string(20000, 'Z'), false},
        {"module report after the opening line", L"setup.log", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qztest::TempDir dir;
        const std::wstring path = dir / c.relativePath;
        if (!c.previousContent.empty())
            qztest::WriteFileBytes(path, c.previousContent);
        const std::wstring program = dir / L"qz-tests-diag.exe";
        qztest::CopyFileOrThrow(diagtest::ThisProgram(), program);
        if (c.brokenModule)
            qztest::WriteFileBytes(dir / L"qz-setup.rsc", "not a module");
        qztest::ProcessOptions options;
        options.setEnv[kLogVariable] = path;
        options.workingDir = dir.path();
        ASSERT_TRUE(diagtest::RunChild(L"WritesLog", options, program).passed());

        const std::string bytes = qztest::ReadFileBytes(path);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
        EXPECT_EQ(kChildEarly + (c.brokenModule ? kModuleFailedLine : L"") + kChildLater + kClosingLine,
                  qztest::ReadUtf16File(path));
    }
}

// The opening line may come from the resource module, the closing line never
// does: the module is released before the log closes.
TEST(BootstrapLog, ClosingLineComesFromTheBuiltInTable) {
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) != LANG_ENGLISH)
        GTEST_SKIP() << "expectations are the English table's";
    // The module lies beside the program.
    qztest::TempDir dir;
    const std::wstring program = dir / L"qz-tests-diag.exe";
    qztest::CopyFileOrThrow(diagtest::ThisProgram(), program);
    const std::wstring module = dir / L"qz-setup.rsc";
    qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", module);
    ASSERT_NO_THROW(qztest::PutModuleTexts(
        module, {{IDS_LOG_COMPLETED, L"MODULE: closed."}, {IDS_LOG_INITIATED, L"MODULE: opened."}}));
    const std::wstring path = dir / L"setup.log";
    qztest::ProcessOptions options;
    options.setEnv[kLogVariable] = path;
    options.workingDir = dir.path();
    ASSERT_TRUE(diagtest::RunChild(L"OpensLogWithModule", options, program).passed());
    EXPECT_EQ(L"\xFEFF"
              L"QZSETUP:BOOTSTRAP:INFO::MODULE: opened.\r\n" +
                  kClosingLine,
              qztest::ReadUtf16File(path));
}

} // namespace
