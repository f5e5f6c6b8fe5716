// Help: the text DisplayHelp writes, and what a user or a script sees of a
// help run of the real qz-setup.exe.
#include "bootstrapper/help_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/machine_queries.h"

using namespace qztest;

namespace {

// A file in the user's temporary directory, where a derived log goes.
std::wstring SystemTempFile(const std::wstring& name) {
    return TempFolder() + name;
}

// The rich edit control of the viewer gives every line break back as CR LF.
std::wstring AsViewerGivesItBack(const std::wstring& text) {
    std::wstring result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            result += L'\r';
        result += text[i];
    }
    return result;
}

std::wstring UsageText() {
    std::wstring usage;
    LoadResourceMessage(IDS_USAGE, usage);
    return usage;
}

// What DisplayHelp writes to the information stream (and the error stream).
struct HelpOutput {
    int result = -1;
    std::wstring out;
    std::wstring err;
};

HelpOutput ShowHelp(const std::wstring& helpFile) {
    std::wstringbuf out;
    std::wstringbuf err;
    std::wstreambuf* const oldOut = std::wcout.rdbuf(&out);
    std::wstreambuf* const oldErr = std::wcerr.rdbuf(&err);
    HelpOutput output;
    try {
        output.result = DisplayHelp(helpFile);
    } catch (...) {
        std::wcout.rdbuf(oldOut);
        std::wcerr.rdbuf(oldErr);
        throw;
    }
    std::wcout.rdbuf(oldOut);
    std::wcerr.rdbuf(oldErr);
    output.out = out.str();
    output.err = err.str();
    return output;
}

TEST(DisplayHelp, WritesTheHelpFileOrTheUsageText) {
    TempDir dir;
    const struct {
        const char* name;
        const char* file; // null: no file is written
        std::string bytes;
        std::wstring shown; // %U: the usage text
    } cases[] = {
        {"UTF-8 with byte-order mark and CR LF", "help.txt",
         "\xEF\xBB\xBFLine one\r\nZweite Zeile: \xC3\xBC\r\n", L"Line one\r\nZweite Zeile: \x00FC\r\n"},
        {"no byte-order mark, LF and CR kept as they are", "plain.txt", "a\nb\rc", L"a\nb\rc"},
        {"only a later U+FEFF stays", "late.txt", "x\xEF\xBB\xBFy", L"x\xFEFFy"},
        {"empty file", "empty.txt", "", L""},
        {"ANSI text cut at the end", "ansi.txt", "Caf\xE9\r\n", L"Caf\xFFFD\r\n"},
        {"RTF is passed on unchanged", "help.rtf", "{\\rtf1 Hi}", L"{\\rtf1 Hi}"},
        {"no help file", nullptr, "", L"%U"},
        {"help file gone", "", "", L"%U"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring path;
        if (c.file) {
            path = dir / FromUtf8(c.file);
            if (*c.file)
                WriteFileBytes(path, c.bytes);
            else
                path = dir / L"missing.txt";
        }
        const HelpOutput output = ShowHelp(path);
        EXPECT_EQ(output.result, 0);
        EXPECT_EQ(ToUtf8(output.out), ToUtf8(c.shown == L"%U" ? UsageText() : c.shown));
        EXPECT_EQ(output.err, L"");
    }
    EXPECT_FALSE(UsageText().empty());
}

// A help file that exists but cannot be opened. FileExists opens files with
// CreateFileW, the reader through the C runtime; with every stream of the
// runtime in use only the reader fails.
TEST(DisplayHelp, AFileThatCannotBeOpenedRaisesAfterLogging) {
    TempDir dir;
    const std::wstring path = dir / L"help.txt";
    WriteFileBytes(path, "help");

    std::vector<FILE*> streams;
    std::wstringbuf log;
    std::string what;
    bool raised = false;
    {
        for (int i = 0; i < 20000; ++i) {
            FILE* stream = _wfopen(path.c_str(), L"rb");
            if (!stream)
                break;
            streams.push_back(stream);
        }
        LogStreamCapture capture(log);
        try {
            DisplayHelp(path);
        } catch (const std::runtime_error& e) {
            raised = true;
            what = e.what();
        }
        for (FILE* stream : streams)
            std::fclose(stream);
    }
    ASSERT_LT(streams.size(), 20000u) << "the runtime never ran out of streams";
    EXPECT_TRUE(raised);
    EXPECT_EQ(what, "Failed to open help file.");
    EXPECT_EQ(log.str(), L"QZSETUP:BOOTSTRAP:ERR::Error occured at  Fnc : DisplayHelp; Line : 120; .\n"
                         L"Error description: Failed to open help file..\r\n");
}

// Help runs of the real program. A help run locates its package first, so
// each one names a package file.
class HelpRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        PackageSpec product;
        product.productName = L"QZ Help Test " + NewGuid().substr(1, 8);
        productName = product.productName;
        BuildPackage(product, dir / L"package.msi");
    }

    TempDir dir;
    std::wstring productName;
};

TEST_F(HelpRunTest, AttendedHelpShowsTheUsageTextAndTheResultWithoutALog) {
    const std::wstring log = dir / L"help.log";
    const SetupRun run = RunSetup(dir.path(), {L"/h", L"/f", L"package.msi", L"/l", log});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.dialogs.size(), 1u);
    // The usage text ends without a line end: the result line follows on its last line.
    EXPECT_EQ(run.dialogs[0],
              AsViewerGivesItBack(UsageText() + L"QZSETUP:BOOTSTRAP:INFO:0:" + SystemText(0) + L"\r\n"));
    EXPECT_FALSE(PathExists(log)) << "a help run opens no log";
    EXPECT_FALSE(PathExists(SystemTempFile(productName + L"_install.log")));
}

TEST_F(HelpRunTest, AttendedHelpShowsTheHelpFileWithoutItsMarkAndWithItsLineBreaks) {
    const std::wstring help = dir / L"help.txt";
    WriteFileBytes(help, "\xEF\xBB\xBF"
                         "First line\r\nSecond line \xC3\xA9\r\n\r\nLast line\r\n");
    const SetupRun run = RunSetup(dir.path(), {L"/h", L"/H", help, L"/f", L"package.msi"});
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.dialogs.size(), 1u);
    EXPECT_EQ(run.dialogs[0], L"First line\r\nSecond line \x00E9\r\n\r\nLast line\r\n"
                              L"QZSETUP:BOOTSTRAP:INFO:0:" +
                                  SystemText(0) + L"\r\n");
}

TEST_F(HelpRunTest, UnattendedHelpShowsNothingAndWritesSuccess) {
    // A control file ending in a cut UTF-8 sequence no longer ends the run.
    WriteFileBytes(dir / L"qz-setup.dat", "QZ_NOTE=Caf\xE9\r\n");
    const SetupRun run =
        RunSetup(dir.path(), {L"/h", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"x.txt", L"/f", L"package.msi"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_EQ(ReadFileBytes(dir / L"x.txt"), ExitFileBytes(0, 0, SystemText(0)));
}

TEST_F(HelpRunTest, AnExitOrResponseFileAloneDoesNotSilenceHelp) {
    // Help derives no mode: asked for by a user, it is shown, and the exit file
    // follows once the dialog is closed. Every other early end with an exit or
    // response file stays silent, as a deployment script needs.
    WriteFileBytes(dir / L"answers.rsp", "COMPANY=QZ\r\n");
    // Found by name: a package for this machine's processor.
    PackageSpec native;
    native.productName = productName + L" Agent";
    native.platform = GetNativeProcessor() == PROCESSOR_ARCHITECTURE_AMD64 ? L"x64" : L"Intel";
    BuildPackage(native, dir / L"native.msi");
    const struct {
        const char* what;
        std::vector<std::wstring> arguments;
        DWORD exitCode;
        bool dialog;
        std::string exitFileStart;
    } cases[] = {
        {"help with an exit file",
         {L"/h", L"/p", native.productName, L"/e", L"exit.txt"},
         0,
         true,
         "0\r\n0\r\n"},
        {"help with a response file and an exit file",
         {L"/h", L"/p", native.productName, L"/r", L"answers.rsp", L"/e", L"exit.txt"},
         0,
         true,
         "0\r\n0\r\n"},
        {"no package found", {L"/p", L"Nope", L"/e", L"exit.txt"}, 1, false, "30665\r\n30665\r\n"},
        {"help, but no package found",
         {L"/h", L"/p", L"Nope", L"/e", L"exit.txt"},
         1,
         false,
         "30665\r\n30665\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW((dir / L"exit.txt").c_str());
        SetupOptions options;
        options.exitFileToWatch = dir / L"exit.txt";
        const SetupRun run = RunSetup(dir.path(), c.arguments, options);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(c.exitCode, run.exitCode);
        ASSERT_EQ(c.dialog ? 1u : 0u, run.dialogs.size());
        if (c.dialog) {
            EXPECT_EQ(0u, run.dialogs[0].find(AsViewerGivesItBack(UsageText()))) << ToUtf8(run.dialogs[0]);
            EXPECT_FALSE(run.exitFileWhileDialog[0]) << "the exit file comes after the dialog";
        }
        const std::string exitFile = ReadFileBytes(dir / L"exit.txt");
        EXPECT_EQ(c.exitFileStart, exitFile.substr(0, c.exitFileStart.size())) << exitFile;
    }
}

} // namespace
