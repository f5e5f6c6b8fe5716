#include "diag/messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"
#include "support/test_env.h"
#include "child_process.h"

namespace {

bool EnglishTables() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_ENGLISH;
}

const wchar_t kModuleFailedLine[] = L"QZSETUP:BOOTSTRAP:INFO::Failed to load qz-setup.rsc resource file. "
                                    L"Defaulting to inner resource messages.\r\n";

struct MessageCase {
    const char* name;
    std::function<bool(std::wstring&)> produce;
    std::wstring expected;
};

void CheckMessages(const std::vector<MessageCase>& cases) {
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring text = L"stale";
        EXPECT_TRUE(c.produce(text));
        EXPECT_EQ(c.expected, text);
    }
}

TEST(MessageCatalogue, BuiltInTableFormatsWithItsArguments) {
    if (!EnglishTables())
        GTEST_SKIP() << "expectations are the English table's";
    ASSERT_EQ(nullptr, GetResourceModule())
        << "a qz-setup.rsc in the working directory would change the texts";
    CheckMessages({
        {"plain", [](std::wstring& t) { return LoadResourceMessage(IDS_UNEXPECTED_EXCEPTION, t); },
         L"Unexpected exception caught."},
        {"two strings",
         [](std::wstring& t) {
             return FormatResourceMessage(IDS_ERROR_AT, t, L" Fnc : F; Line : 1; ",
                                          std::wstring(L"gone\r\n"));
         },
         L"Error occured at  Fnc : F; Line : 1; .\nError description: gone\r\n."},
        {"banner order",
         [](std::wstring& t) {
             return FormatResourceMessage(IDS_INSTALL_BANNER, t, L"a.msi", L"Agent", L"1.2");
         },
         L"\n*******************************************************************************\n"
         L"Commencing installation of a.msi package.\nProduct name: Agent.\nProduct version: 1.2.\n"
         L"*******************************************************************************"},
        {"unsigned",
         [](std::wstring& t) {
             return FormatResourceMessage(IDS_FOUND_LANGUAGE_TRANSFORM, t, L"fr.mst", 1036u);
         },
         L"Found \"fr.mst\" language transfrom with 1036 id."},
        {"signed", [](std::wstring& t) { return FormatResourceMessage(IDS_DELIMITER_ERROR, t, -1, 2); },
         L"Unexpected error message format. Delimiter no. -1 encountered when delimiter no. 2 is already in "
         L"effect."},
        {"built-in only", [](std::wstring& t) { return (t = LoadBuiltInMessage(IDS_VIEWER_TITLE)), true; },
         L"QZ Setup"},
    });

    std::string narrow = "stale";
    EXPECT_TRUE(LoadResourceMessageA(IDS_LOG_OPEN_FAILED, narrow));
    EXPECT_EQ("Failed to open log file.", narrow);
}

TEST(MessageCatalogue, UnknownIdLeavesTheOutputAlone) {
    for (const WORD id : {WORD(0), WORD(133), WORD(144), WORD(65535)}) {
        SCOPED_TRACE(id);
        std::wstring text = L"unchanged";
        std::string narrow = "unchanged";
        EXPECT_FALSE(FormatResourceMessage(id, text, L"x"));
        EXPECT_FALSE(LoadResourceMessage(id, text));
        EXPECT_FALSE(LoadResourceMessageA(id, narrow));
        EXPECT_FALSE(FormatModuleMessage(nullptr, id, text));
        EXPECT_EQ(L"unchanged", text);
        EXPECT_EQ("unchanged", narrow);
        EXPECT_EQ(L"", LoadBuiltInMessage(id));
    }
}

TEST(MessageCatalogue, UsageTextIsWholeAndFormattedTextsAreCut) {
    std::wstring usage;
    ASSERT_TRUE(LoadResourceMessage(IDS_USAGE, usage));
    EXPECT_GT(usage.size(), 1700u);
    EXPECT_EQ(0u, usage.find(L"Usage: qz-setup"));
    EXPECT_EQ(usage.size() - 8, usage.rfind(L"for /h. "));
    EXPECT_EQ(usage.npos, usage.find(L'\0'));

    // A formatted text stops at the formatter's limit, as a clean prefix.
    const std::wstring longArgument(2000, L'x');
    std::wstring cut;
    ASSERT_TRUE(FormatResourceMessage(IDS_ERROR_AT, cut, longArgument, L"never reached"));
    std::wstring full;
    LoadResourceMessage(IDS_ERROR_AT, full);
    full = full.substr(0, full.find(L"%s")) + longArgument;
    EXPECT_LE(cut.size(), 1024u);
    EXPECT_GE(cut.size(), 1023u);
    EXPECT_EQ(cut.npos, cut.find(L'\0'));
    EXPECT_EQ(full.substr(0, cut.size()), cut);
}

// ------------------------------------------------ in processes of their own

TEST(DiagChild, DISABLED_ModuleOverridesSomeIds) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    ASSERT_NE(nullptr, GetResourceModule());
    CheckMessages({
        {"overridden", [](std::wstring& t) { return LoadResourceMessage(IDS_MISSING_ARGUMENT, t); },
         L"TEST MODULE: Missing argument."},
        {"overridden, formatted",
         [](std::wstring& t) { return FormatResourceMessage(IDS_ERROR_AT, t, L"here", L"there"); },
         L"TEST MODULE: Error occured at here.\nError description: there."},
        {"missing from the module",
         [](std::wstring& t) {
             return FormatResourceMessage(IDS_PACKAGE_NOT_FOUND, t, L"Agent", L"x64", L"C:\\p");
         },
         L"Package named Agent for processor x64 not found in C:\\p directory."},
        {"built-in table only",
         [](std::wstring& t) { return (t = LoadBuiltInMessage(IDS_VIEWER_TITLE)), true; }, L"QZ Setup"},
        {"module only on request",
         [](std::wstring& t) { return FormatModuleMessage(GetResourceModule(), IDS_LOG_INITIATED, t); },
         L"TEST MODULE: Bootstrapper logging initiated."},
    });
    std::string narrow;
    EXPECT_TRUE(LoadResourceMessageA(IDS_LOG_OPEN_FAILED, narrow));
    EXPECT_EQ("Failed to open log file.", narrow);
    std::wstring text = L"unchanged";
    EXPECT_FALSE(FormatModuleMessage(GetResourceModule(), IDS_PACKAGE_NOT_FOUND, text));
    EXPECT_EQ(L"unchanged", text);
    EXPECT_EQ(L"", log.str()) << "a loadable module is not reported";
    diagtest::MarkChildDone();
}

TEST(DiagChild, DISABLED_BrokenModuleIsReportedOnce) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        std::wstring text;
        EXPECT_TRUE(LoadResourceMessage(IDS_MISSING_ARGUMENT, text));
        EXPECT_EQ(L"Missing argument.", text);
        EXPECT_TRUE(FormatResourceMessage(IDS_RESPONSE_FILE_MISSING, text, L"r.txt"));
        EXPECT_EQ(L"Response file r.txt does not exist!", text);
        EXPECT_EQ(nullptr, GetResourceModule());
    }
    EXPECT_EQ(kModuleFailedLine, log.str());
    diagtest::MarkChildDone();
}

TEST(DiagChild, DISABLED_NoModuleIsSilent) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    std::wstring text;
    EXPECT_TRUE(LoadResourceMessage(IDS_LOG_INITIATED, text));
    EXPECT_EQ(L"Bootstrapper logging initiated.", text);
    EXPECT_EQ(nullptr, GetResourceModule());
    EXPECT_EQ(L"", log.str());
    diagtest::MarkChildDone();
}

TEST(ResourceModule, IsTakenFromTheWorkingDirectory) {
    if (!EnglishTables())
        GTEST_SKIP() << "expectations are the English table's";
    qztest::TempDir work;
    qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", work / L"qz-setup.rsc");
    qztest::ProcessOptions options;
    options.workingDir = work.path();
    EXPECT_TRUE(diagtest::RunChild(L"ModuleOverridesSomeIds", options).passed());

    qztest::TempDir empty;
    options.workingDir = empty.path();
    EXPECT_TRUE(diagtest::RunChild(L"NoModuleIsSilent", options).passed());
}

// A module that cannot be loaded is reported once and never retried; and the
// lookup never falls back to a loadable module of the same name beside the
// program, as a search by bare name would.
TEST(ResourceModule, BrokenModuleFallsBackToTheBuiltInTable) {
    if (!EnglishTables())
        GTEST_SKIP() << "expectations are the English table's";
    qztest::TempDir programDir;
    const std::wstring program = programDir / L"qz-tests-diag.exe";
    qztest::CopyFileOrThrow(diagtest::ThisProgram(), program);
    qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", programDir / L"qz-setup.rsc");

    qztest::TempDir work;
    qztest::WriteFileBytes(work / L"qz-setup.rsc", "not a module\r\n");
    qztest::ProcessOptions options;
    options.workingDir = work.path();
    EXPECT_TRUE(diagtest::RunChild(L"BrokenModuleIsReportedOnce", options, program).passed());
}

} // namespace
