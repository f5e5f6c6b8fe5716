#include "diag/messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"
#include "support/module_texts.h"
#include "support/test_env.h"
#include "system/win_owners.h"
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
    // wvsprintfW's buffer of 1,024 characters holds the terminator too.
    EXPECT_EQ(1023u, cut.size());
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

TEST(DiagChild, DISABLED_StaleTextsArePassedOverOnceEach) {
    std::wstringbuf log;
    LogStreamCapture capture(log);
    ASSERT_NE(nullptr, GetResourceModule());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        CheckMessages({
            // Four conversions where the program passes three: the built-in text.
            {"a conversion too many",
             [](std::wstring& t) {
                 return FormatResourceMessage(IDS_PACKAGE_NOT_FOUND, t, L"Agent", L"x64", L"C:\\p");
             },
             L"Package named Agent for processor x64 not found in C:\\p directory."},
            // A number where the program passes none.
            {"a conversion where there is none",
             [](std::wstring& t) { return FormatResourceMessage(IDS_NO_INSTALLATION_PACKAGE, t); },
             L"Failed to find the installation package."},
            // The same conversions in another order would swap text and number.
            {"conversions out of order",
             [](std::wstring& t) {
                 return FormatResourceMessage(IDS_FOUND_LANGUAGE_TRANSFORM, t, L"fr.mst", 1036u);
             },
             L"Found \"fr.mst\" language transfrom with 1036 id."},
            {"a fitting text is taken",
             [](std::wstring& t) { return FormatResourceMessage(IDS_ERROR_AT, t, L"here", L"there"); },
             L"STALE: at here: there."},
            {"only on request, and only when it fits",
             [](std::wstring& t) {
                 return FormatModuleMessage(GetResourceModule(), IDS_ERROR_AT, t, L"a", L"b");
             },
             L"STALE: at a: b."},
        });
    }
    std::wstring text = L"unchanged";
    EXPECT_FALSE(FormatModuleMessage(GetResourceModule(), IDS_PACKAGE_NOT_FOUND, text, L"a", L"b", L"c"));
    EXPECT_EQ(L"unchanged", text);
    // Each passed-over text is told once, the first time it is asked for.
    const std::wstring passedOver =
        L"QZSETUP:BOOTSTRAP:INFO::Message %u of qz-setup.rsc is passed over because "
        L"its placeholders differ from the built-in text's; the built-in text is "
        L"used. Build qz-setup.rsc again with the qz-rsc of this version.\r\n";
    auto line = [&passedOver](unsigned id) {
        std::wstring text = passedOver;
        return text.replace(text.find(L"%u"), 2, std::to_wstring(id));
    };
    EXPECT_EQ(line(124) + line(130) + line(141), log.str());
    diagtest::MarkChildDone();
}

TEST(DiagChild, DISABLED_ModuleCannotBeWrittenWhileInUse) {
    ASSERT_NE(nullptr, GetResourceModule());
    const std::wstring module = diagtest::ChildSetting(L"QZ_DIAG_MODULE");
    ASSERT_FALSE(module.empty());
    // Another program (here, another handle) cannot open it for writing.
    const UniqueFileHandle writer(CreateFileW(module.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    std::wstring text;
    EXPECT_TRUE(LoadResourceMessage(IDS_MISSING_ARGUMENT, text));
    EXPECT_EQ(L"TEST MODULE: Missing argument.", text);
    diagtest::MarkChildDone();
}

// A program copied into a folder of its own, for the module beside it.
struct ProgramCopy {
    ProgramCopy() { qztest::CopyFileOrThrow(diagtest::ThisProgram(), program); }
    qztest::TempDir dir;
    std::wstring program = dir / L"qz-tests-diag.exe";
};

// The module is the one beside the program, whatever the current folder
// holds: a module in the current folder is never taken.
TEST(ResourceModule, IsTakenFromBesideTheProgram) {
    if (!EnglishTables())
        GTEST_SKIP() << "expectations are the English table's";
    qztest::TempDir work;
    qztest::ProcessOptions options;
    options.workingDir = work.path();
    {
        const ProgramCopy copy;
        qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", copy.dir / L"qz-setup.rsc");
        EXPECT_TRUE(diagtest::RunChild(L"ModuleOverridesSomeIds", options, copy.program).passed());
    }
    {
        const ProgramCopy copy;
        qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", work / L"qz-setup.rsc");
        EXPECT_TRUE(diagtest::RunChild(L"NoModuleIsSilent", options, copy.program).passed());
    }
}

// A module that cannot be loaded is reported once and never retried; and the
// lookup never falls back to a loadable module of the same name in the
// current folder.
TEST(ResourceModule, BrokenModuleFallsBackToTheBuiltInTable) {
    if (!EnglishTables())
        GTEST_SKIP() << "expectations are the English table's";
    const ProgramCopy copy;
    qztest::WriteFileBytes(copy.dir / L"qz-setup.rsc", "not a module\r\n");
    qztest::TempDir work;
    qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", work / L"qz-setup.rsc");
    qztest::ProcessOptions options;
    options.workingDir = work.path();
    EXPECT_TRUE(diagtest::RunChild(L"BrokenModuleIsReportedOnce", options, copy.program).passed());
}

// A module made for another version, or by hand, whose conversions differ
// from the built-in texts': those texts are passed over, each told once, and
// the formatter never reads an argument that was not passed.
TEST(ResourceModule, StaleTextsArePassedOver) {
    if (!EnglishTables())
        GTEST_SKIP() << "expectations are the English table's";
    const ProgramCopy copy;
    const std::wstring module = copy.dir / L"qz-setup.rsc";
    qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", module);
    ASSERT_NO_THROW(qztest::PutModuleTexts(module, {{IDS_PACKAGE_NOT_FOUND, L"STALE: %s %s %s %s"},
                                                    {IDS_ERROR_AT, L"STALE: at %s: %s."},
                                                    {IDS_NO_INSTALLATION_PACKAGE, L"STALE: %u"},
                                                    {IDS_FOUND_LANGUAGE_TRANSFORM, L"STALE: %u %s"}}));
    qztest::ProcessOptions options;
    options.workingDir = copy.dir.path();
    EXPECT_TRUE(diagtest::RunChild(L"StaleTextsArePassedOverOnceEach", options, copy.program).passed());
}

// The module in use cannot be changed under the program.
TEST(ResourceModule, CannotBeWrittenWhileInUse) {
    if (!EnglishTables())
        GTEST_SKIP() << "expectations are the English table's";
    const ProgramCopy copy;
    qztest::CopyFileOrThrow(qztest::BinDir() + L"test-module.rsc", copy.dir / L"qz-setup.rsc");
    qztest::ProcessOptions options;
    options.workingDir = copy.dir.path();
    options.setEnv[L"QZ_DIAG_MODULE"] = copy.dir / L"qz-setup.rsc";
    EXPECT_TRUE(diagtest::RunChild(L"ModuleCannotBeWrittenWhileInUse", options, copy.program).passed());
}

} // namespace
