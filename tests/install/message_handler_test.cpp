// Recovering the installer's error number from its error texts: the template
// matcher on its own, and the handler against real package databases.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "diag/bootstrap_log.h"
#include "install/message_handler.h"
#include "settings/variables.h"
#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"
#include "support/published_variables.h"

using namespace qztest;

namespace {

std::wstring DelimiterLine(int found, int inEffect) {
    return L"QZSETUP:BOOTSTRAP:ERR::Unexpected error message format. Delimiter no. " +
           std::to_wstring(found) + L" encountered when delimiter no. " + std::to_wstring(inEffect) +
           L" is already in effect.\r\n";
}

// A package database opened read-only, the way the package run opens it.
class OpenPackage {
public:
    explicit OpenPackage(const std::wstring& path) {
        const UINT result = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &m_handle);
        if (result != ERROR_SUCCESS)
            ADD_FAILURE() << "MsiOpenDatabaseW: " << result;
    }
    ~OpenPackage() {
        if (m_handle)
            MsiCloseHandle(m_handle);
    }
    OpenPackage(const OpenPackage&) = delete;
    OpenPackage& operator=(const OpenPackage&) = delete;
    LPVOID context() const { return reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(m_handle)); }

private:
    MSIHANDLE m_handle = 0;
};

class MessageHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_lastInstallerError = 0;
        g_lastInstallerMessage.clear();
    }
    void TearDown() override {
        g_lastInstallerError = 0;
        g_lastInstallerMessage.clear();
    }

    // Calls the handler as the installer does, with the log captured.
    int Deliver(LPVOID context, const std::wstring& message) {
        LogStreamCapture capture(log);
        return InstallerMessageHandler(context, INSTALLMESSAGE_ERROR, message.c_str());
    }

    std::wstring Package(const PackageSpec& product) {
        const std::wstring path = dir / L"package.msi";
        BuildPackage(product, path);
        return path;
    }

    TempDir dir;
    std::wstringbuf log;
};

const std::vector<std::pair<int, std::wstring>> kErrors = {
    {25000, L"Error [1]. Custom failure: [2] (code [3])"},
    {25001, L"Error [1]. [2]"},
    {25002, L"Error [1]. {{ System error [2].}}"},
};

} // namespace

TEST(ErrorTemplateTest, MatchesLiteralPiecesInOrderAndReportsMisplacedDelimiters) {
    const struct {
        const wchar_t* name;
        std::wstring templ;
        std::wstring message;
        bool matches;
        std::wstring logged; // the lines of message 122, in order
    } cases[] = {
        {L"optional section filled in", L"Error [1]. {{ System error [2].}}", L"Error 1722.  System error 5.",
         true, DelimiterLine(4, 1) + DelimiterLine(2, 8)},
        {L"optional section left out before a field", L"Error [1]. {{ System error [2].}}", L"Error 1722. ",
         false, DelimiterLine(4, 1)},
        {L"fields filled in", L"Error [1]. [2]", L"Error 1722. Some text", true, L""},
        {L"first piece after other text", L"Error [1].", L"Setup says: Error 5.", true, L""},
        {L"empty template", L"", L"anything at all", true, L""},
        {L"empty template, empty message", L"", L"", true, L""},
        {L"closing section without opening", L"abc}} def", L"abc def", true, DelimiterLine(2, 0)},
        {L"closing field without opening", L"a]b", L"b", true, DelimiterLine(8, 0)},
        {L"field inside field", L"x[[1]]y", L"x1y", true, DelimiterLine(4, 4) + DelimiterLine(8, 8)},
        {L"letter case counts", L"error [1].", L"Error 5.", false, L""},
        {L"pieces must keep their order", L"B[1]A", L"A then B", false, L""},
        {L"field text is not compared", L"[1] failed", L"Copying failed", true, L""},
        {L"literal piece missing at the end", L"Error [1]. Disk full", L"Error 5. Disk", false, L""},
        {L"pieces do not overlap", L"ab[1]ba", L"aba", false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name));
        std::wstringbuf log;
        bool matches = false;
        {
            LogStreamCapture capture(log);
            matches = MatchesErrorTemplate(c.templ, c.message);
        }
        EXPECT_EQ(matches, c.matches);
        EXPECT_EQ(log.str(), c.logged);
    }
}

TEST_F(MessageHandlerTest, KeepsTheErrorNumberOfTheMatchingRowAndTheLastMessage) {
    PackageSpec product;
    product.errors = kErrors;
    const OpenPackage package(Package(product));
    const PublishedVariables variables(VariableMap{});

    // One installation may report several errors: each call overwrites both values.
    const struct {
        std::wstring message;
        DWORD error;
    } calls[] = {
        {L"Error 25000. Custom failure: disk on fire (code 42)", 25000},
        {L"Error 1722. Some text", 25001},
        {L"Something the package does not know", 1603},
        // "Error [1]. [2]" matches too, with less literal text.
        {L"Error 1722.  System error 5.", 25002},
        {L"Error 25000. Custom failure: again (code 7)", 25000},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(ToUtf8(call.message));
        EXPECT_EQ(Deliver(package.context(), call.message), 0);
        EXPECT_EQ(g_lastInstallerError, call.error);
        EXPECT_EQ(g_lastInstallerMessage, call.message);
    }
    // Rows after the first match are compared without reporting their
    // templates: the log is the same as when the first match ended the search.
    EXPECT_EQ(log.str().find(L"ERR"), std::wstring::npos) << ToUtf8(log.str());
}

// The installer's standard Error rows ("{{Fatal error: }}", "Error [1]. ",
// ...) match nearly every message. The row with the most literal text is the
// one that describes the message; on a tie the first in the installer's order.
TEST_F(MessageHandlerTest, TheMostSpecificOfSeveralMatchingRowsWins) {
    PackageSpec product;
    product.errors = {
        {0, L"{{Fatal error: }}"}, {1, L"Error [1]. "},
        {2, L"Warning [1]. "},     {3, L""},
        {4, L"Info [1]. "},        {25000, L"Widget failure: [2] (code [3])"},
        {25010, L"Tie [1] A"},     {25011, L"Tie [1] B"},
        {25012, L"Tie [1] [2]A"},
    };
    const OpenPackage package(Package(product));
    const PublishedVariables variables(VariableMap{});

    const struct {
        std::wstring message;
        DWORD error;
    } calls[] = {
        {L"Error 25000. Widget failure: disk on fire (code 42)", 25000},
        {L"Error 1722. Something else", 1},
        {L"Warning 5. Careful", 2},
        {L"Nothing any row names", 0}, // rows 0 and 3 match with no literal text; 0 comes first
        {L"Tie 1 A", 25010},           // 25010 and 25012 both have 6 literal characters
        {L"Tie 1 B", 25011},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(ToUtf8(call.message));
        EXPECT_EQ(Deliver(package.context(), call.message), 0);
        EXPECT_EQ(g_lastInstallerError, call.error);
        EXPECT_EQ(g_lastInstallerMessage, call.message);
    }
}

TEST_F(MessageHandlerTest, AnEmptyErrorTableOrNoneAtAllNeverStopsTheInstallation) {
    const struct {
        const char* name;
        bool errorTable;
    } cases[] = {{"Error table without rows", true}, {"no Error table", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PackageSpec product;
        product.errorTable = c.errorTable;
        const OpenPackage package(Package(product));
        const PublishedVariables variables(VariableMap{});
        log.str(L"");

        EXPECT_EQ(Deliver(package.context(), L"Error 1722. Some text"), 0);
        EXPECT_EQ(g_lastInstallerError, 1603u);
        EXPECT_EQ(g_lastInstallerMessage, L"Error 1722. Some text");
        // A query that cannot run is logged as an error; an empty table is no error.
        const bool loggedError = log.str().find(L"QZSETUP:BOOTSTRAP:ERR:") != std::wstring::npos;
        EXPECT_EQ(loggedError, !c.errorTable) << ToUtf8(log.str());
    }
}

TEST_F(MessageHandlerTest, AClosedDatabaseHandleIsContained) {
    const PublishedVariables variables(VariableMap{});
    EXPECT_EQ(Deliver(reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(0x7ffe)), L"Error 1."), 0);
    EXPECT_EQ(g_lastInstallerError, 1603u);
    EXPECT_EQ(g_lastInstallerMessage, L"Error 1.");
    EXPECT_NE(log.str().find(L"QZSETUP:BOOTSTRAP:ERR:"), std::wstring::npos);
}

TEST_F(MessageHandlerTest, LanguageTransformAppliesOnEveryCallWithoutFalseFailures) {
    PackageSpec product;
    product.errors = kErrors;
    const OpenPackage package(Package(product));
    const std::wstring transform = dir / L"1036.mst";
    WriteLanguageTransform(transform, 1036, {{L"ProductName", L"Produit de test"}});
    const PublishedVariables variables(VariableMap{{QZ_SETUP_LANG_TRANSFORM, transform}});

    for (int call = 0; call < 3; ++call) {
        SCOPED_TRACE(call);
        EXPECT_EQ(Deliver(package.context(), L"Error 25000. Custom failure: x (code 1)"), 0);
        EXPECT_EQ(g_lastInstallerError, 25000u);
    }
    EXPECT_EQ(log.str(), L"");
}

TEST_F(MessageHandlerTest, ATransformThatCannotApplyIsLoggedAndMatchingGoesOn) {
    PackageSpec product;
    product.errors = kErrors;
    const OpenPackage package(Package(product));
    const std::wstring transform = dir / L"missing.mst";
    const PublishedVariables variables(VariableMap{{QZ_SETUP_LANG_TRANSFORM, transform}});

    EXPECT_EQ(Deliver(package.context(), L"Error 7. Text"), 0);
    EXPECT_EQ(g_lastInstallerError, 25001u);
    const std::wstring prefix = L"QZSETUP:BOOTSTRAP:ERR::Failed to apply " + transform +
                                L" language transform file. \nError number: ";
    EXPECT_EQ(log.str().rfind(prefix, 0), 0u) << ToUtf8(log.str());
    EXPECT_EQ(SplitLines(log.str()).size(), 2u) << "one line and the empty rest";
}

// The same through the real program: a failing custom action's error in a
// package that carries the installer's standard rows. Row 1 ("Error [1]. ")
// used to win as the first match, so the exit file said 1.
TEST(MessageHandlerRunTest, ACustomErrorBeatsTheStandardRows) {
    TempDir dir;
    PackageSpec product;
    product.productCode = NewGuid();
    product.productName = L"QZ Widget " + product.productCode.substr(1, 8);
    product.installFolder = product.productName;
    product.errors = {
        {0, L"{{Fatal error: }}"}, {1, L"Error [1]. "},
        {2, L"Warning [1]. "},     {3, L""},
        {4, L"Info [1]. "},        {25000, L"Widget failure: [2] (code [3])"},
    };
    product.failWithError = 25000;
    product.failArguments = {L"disk on fire", L"42"};
    BuildPackage(product, dir / L"package.msi");

    const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"/l", L"run.log",
                                               L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    RemoveProduct(product.productCode);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_FALSE(IsProductRegistered(product.productCode));
    EXPECT_EQ(ReadFileBytes(dir / L"exit.txt"),
              "25000\r\n25000\r\nError 25000. Widget failure: disk on fire (code 42)");
}
