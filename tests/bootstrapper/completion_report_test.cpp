// The completion report: the exit file another program reads, the rule that
// decides whether a user is there to see a dialog, and the text viewer.
#include <gtest/gtest.h>

#include "bootstrapper/completion_report.h"
#include "diag/bootstrap_log.h"
#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/test_env.h"

using namespace qztest;

TEST(ExitFileTest, ThreePartsInUtf8WithCrLf) {
    TempDir dir;
    const struct {
        const char* name;
        int code;
        std::wstring text;
        std::string bytes;
    } cases[] = {
        {"success", 0, L"The operation completed successfully.\r\n",
         "0\r\n0\r\nThe operation completed successfully.\r\r\n"},
        {"reboot required counts as success", 3010, L"reboot", "0\r\n3010\r\nreboot"},
        {"reboot initiated counts as success", 1641, L"", "0\r\n1641\r\n"},
        {"failure keeps its code", 1603, L"failed", "1603\r\n1603\r\nfailed"},
        {"negative code, no grouping", -2147024891, L"x", "-2147024891\r\n-2147024891\r\nx"},
        {"large code, no grouping", 30665, L"a\nb", "30665\r\n30665\r\na\r\nb"},
        {"non-ASCII text in UTF-8", 1, L"\u00e9t\u00e9 \u65e5\u672c",
         "1\r\n1\r\n\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac"},
        {"beyond the BMP", 2, L"\U0001F600\n", "2\r\n2\r\n\xf0\x9f\x98\x80\r\n"},
        // Long enough for the writer without the heap to go in several runs,
        // one of which would end inside the surrogate pair.
        {"a long text", 5, std::wstring(255, L'a') + L"\U0001F600" + std::wstring(600, L'b') + L"\r\nz",
         "5\r\n5\r\n" + std::string(255, 'a') + "\xf0\x9f\x98\x80" + std::string(600, 'b') + "\r\r\nz"},
    };
    // The exit file as written normally, and as written without the heap
    // when memory has run out: the same bytes.
    const struct {
        const char* name;
        bool (*write)(const std::wstring&, int, const std::wstring&);
    } writers[] = {{"stream",
                    [](const std::wstring& path, int code, const std::wstring& text) {
                        return WriteExitFile(path, NormalisedResult(code), code, text);
                    }},
                   {"direct", [](const std::wstring& path, int code, const std::wstring& text) {
                        return WriteExitFileDirect(path, NormalisedResult(code), code, text);
                    }}};
    for (const auto& writer : writers) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(writer.name) + ": " + c.name);
            const std::wstring path = dir / L"exit.txt";
            WriteFileBytes(path, "previous content that is longer than the new one, and must go");
            EXPECT_TRUE(writer.write(path, c.code, c.text));
            EXPECT_EQ(ReadFileBytes(path), c.bytes);
        }
        EXPECT_FALSE(writer.write(dir / L"no such folder\\exit.txt", 0, L"")) << writer.name;
    }
}

TEST(CompletionReportTest, TheUnattendedModesOrAnExitOrResponseFileOutsideHelpSuppressTheDialog) {
    // A run that ended before its mode was derived (no package found, a
    // refused setting) is judged by the mode it would have derived: with an
    // exit file or a response file named, unattended. Help derives no mode:
    // there only the two unattended modes suppress the dialog.
    const struct {
        const wchar_t* mode;  // null: absent
        const wchar_t* other; // another setting present, or null
        bool helpReached;
        bool attended;
    } cases[] = {{nullptr, nullptr, false, true},
                 {L"INSTALL", nullptr, false, true},
                 {L"UNINSTALL", nullptr, false, true},
                 {L"UNATTENDED", nullptr, false, false},
                 {L"UNATTENDED_UNINSTALL", nullptr, false, false},
                 // Another letter case is refused as a mode, but nobody was meant to be asked.
                 {L"unattended", nullptr, false, false},
                 {L"Unattended_Uninstall", nullptr, false, false},
                 {L"UNATTENDED ", nullptr, false, true},
                 {L"", nullptr, false, true},
                 {nullptr, QZ_SETUP_EXIT_FILE, false, false},
                 {nullptr, QZ_SETUP_RESPONSE_FILE, false, false},
                 {nullptr, QZ_SETUP_LOG_FILE, false, true},
                 {L"INSTALL", QZ_SETUP_EXIT_FILE, false, true},
                 {L"unattended", QZ_SETUP_EXIT_FILE, false, false},
                 {L"Install", QZ_SETUP_EXIT_FILE, false, true},
                 {nullptr, QZ_SETUP_EXIT_FILE, true, true},
                 {nullptr, QZ_SETUP_RESPONSE_FILE, true, true},
                 {L"UNATTENDED", QZ_SETUP_EXIT_FILE, true, false},
                 {L"UNATTENDED_UNINSTALL", nullptr, true, false},
                 {L"INSTALL", QZ_SETUP_EXIT_FILE, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode ? testing::PrintToString(ToUtf8(c.mode)) : "absent");
        SCOPED_TRACE(c.other ? ToUtf8(c.other) : "");
        SCOPED_TRACE(c.helpReached ? "help reached" : "");
        VariableMap variables;
        if (c.mode)
            variables[QZ_SETUP_MODE] = c.mode;
        if (c.other)
            variables[c.other] = L"x.txt";
        EXPECT_EQ(IsAttendedRun(variables, c.helpReached), c.attended);
    }
}

TEST(ExitFileTest, TheReasonFollowsTheResultTextOnALineOfItsOwn) {
    TempDir dir;
    std::wstringbuf buffer;
    const struct {
        const char* name;
        std::wstring text, reason;
        std::string bytes;
    } cases[] = {
        {"no reason: the three parts", L"One or more arguments are not correct.\r\n", L"",
         "30665\r\n30665\r\nOne or more arguments are not correct.\r\r\n"},
        {"after a text that ends its line", L"One or more arguments are not correct.\r\n",
         L"Package file C:\\x.msi does not exist!",
         "30665\r\n30665\r\nOne or more arguments are not correct.\r\r\nPackage file C:\\x.msi does not "
         "exist!"},
        {"after a text that does not", L"bad", L"why\nand what was ignored",
         "30665\r\n30665\r\nbad\r\nwhy\r\nand what was ignored"},
        {"after an empty text", L"", L"why", "30665\r\n30665\r\n\r\nwhy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VariableMap variables{{QZ_SETUP_MODE, L"UNATTENDED"}, {QZ_SETUP_EXIT_FILE, dir / L"exit.txt"}};
        RunResult result{c.text, 30665, buffer, variables};
        result.reason = c.reason;
        {
            LogStreamCapture capture(buffer);
            ReportCompletion(result);
        }
        EXPECT_EQ(ReadFileBytes(dir / L"exit.txt"), c.bytes);
    }
}

TEST(CompletionReportTest, UnattendedRunLogsResultAndWritesExitFileWithoutDialog) {
    TempDir dir;
    std::wstringbuf buffer;
    VariableMap variables{{QZ_SETUP_MODE, L"UNATTENDED"}, {QZ_SETUP_EXIT_FILE, dir / L"exit.txt"}};
    RunResult result{L"Fatal error during installation.\r\n", 1603, buffer, variables};
    {
        LogStreamCapture capture(buffer);
        ReportCompletion(result);
    }
    EXPECT_EQ(buffer.str(), L"QZSETUP:BOOTSTRAP:ERR:1603:Fatal error during installation.\r\n\r\n");
    EXPECT_EQ(ReadFileBytes(dir / L"exit.txt"), "1603\r\n1603\r\nFatal error during installation.\r\r\n");
}

namespace {

struct ViewerSeen {
    std::wstring title;
    std::wstring text;
    RECT rect{};
};

void ReadAndClose(HWND dialog, void* context) {
    auto* seen = static_cast<ViewerSeen*>(context);
    Sleep(50);
    seen->title = WindowText(dialog);
    seen->text = ControlText(dialog, IDC_VIEWER_TEXT);
    GetWindowRect(dialog, &seen->rect);
    PressOk(dialog);
}

} // namespace

TEST(TextViewerTest, ShowsTextWithBuiltInTitleCentredUntilOk) {
    ViewerSeen seen;
    {
        InProcessDialogDriver driver(IDC_VIEWER_TEXT, ReadAndClose, &seen);
        ShowTextViewer(L"first line\r\nsecond line");
        ASSERT_TRUE(driver.found()) << "the text viewer did not appear";
    }
    EXPECT_EQ(seen.title, L"QZ Setup");
    EXPECT_NE(seen.text.find(L"first line"), std::wstring::npos);
    EXPECT_NE(seen.text.find(L"second line"), std::wstring::npos);
    RECT desktop{};
    GetClientRect(GetDesktopWindow(), &desktop);
    const int width = seen.rect.right - seen.rect.left;
    const int height = seen.rect.bottom - seen.rect.top;
    EXPECT_NEAR(seen.rect.left, (desktop.right - width) / 2, 1);
    EXPECT_NEAR(seen.rect.top, (desktop.bottom - height) / 2, 1);
}
