// The mistakes an administrator makes in the first hour, each run the way a
// deployment script runs it (an exit file, on a display where a dialog would
// wait for somebody): the run ends on its own, its exit file says why, what it
// ignored is named, and nothing is installed. And a run in a window station
// nobody can see shows no dialog at all.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/messages.h"
#include "resources/resource_ids.h"
#include "support/package_builder.h"
#include "support/plan_reader.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

using namespace qztest;

namespace {

std::wstring ProcessorText() {
    return MachineIsX64() ? L"AMD64" : L"x86";
}

template <class... Args> std::wstring Message(WORD id, const Args&... args) {
    std::wstring text;
    FormatResourceMessage(id, text, args...);
    return text;
}

// The exit file as it must be on disk: the two numbers, then the result text
// and the reason, each line feed written as CR LF.
std::string ExpectedExitFile(int normalised, int code, std::wstring text, const std::wstring& reason) {
    if (!reason.empty() && (text.empty() || text.back() != L'\n'))
        text += L'\n';
    const std::string content =
        std::to_string(normalised) + "\n" + std::to_string(code) + "\n" + ToUtf8(text + reason);
    std::string onDisk;
    for (const char c : content) {
        if (c == '\n')
            onDisk += '\r';
        onDisk += c;
    }
    return onDisk;
}

// The user's language, and one that is not it, for a language dialog.
unsigned OtherLanguage() {
    return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_GERMAN ? 1033 : 1031;
}

class UnattendedMistakes : public ::testing::Test {
protected:
    void SetUp() override {
        m_product.productCode = NewGuid();
        m_product.productName = L"QZ Contoso Widget " + m_product.productCode.substr(1, 8);
        m_product.installFolder = m_product.productName;
        m_product.platform = NativePlatform();
        BuildPackage(m_product, m_dir / L"widget.msi");
    }
    void TearDown() override {
        RemoveProduct(m_product.productCode);
        RemoveTree(ProgramFilesFolderFor(m_product.platform) + L"\\" + m_product.installFolder);
    }
    std::wstring ControlFile() const { return m_dir / L"qz-setup.dat"; }

    TempDir m_dir;
    PackageSpec m_product;
};

TEST_F(UnattendedMistakes, EachEndsWithoutADialogAndItsExitFileSaysWhy) {
    const std::wstring dir = m_dir.path();
    const std::wstring refused = SystemText(ERROR_BAD_ARGUMENTS);
    const std::wstring packageNotFound =
        Message(IDS_PACKAGE_NOT_FOUND, std::wstring(L"Contoso Widgte"), ProcessorText(), dir) + L"\n" +
        Message(IDS_NO_INSTALLATION_PACKAGE);
    const struct {
        const char* mistake;
        std::string controlFile; // empty: none
        std::vector<std::wstring> arguments;
        DWORD exitCode;
        int code;
        std::wstring text;   // the result text
        std::wstring reason; // the part after it
    } cases[] = {
        {"a name with a typing error",
         "",
         {L"/p", L"Contoso Widgte", L"/e", L"exit.txt", L"/l", L"setup.log"},
         1,
         30665,
         refused,
         packageNotFound},
        {"an unattended mode in another letter case",
         "",
         {L"/p", L"Contoso Widget", L"QZ_SETUP_MODE=Unattended", L"/e", L"exit.txt"},
         1,
         30665,
         refused,
         Message(IDS_UNEXPECTED_VALUE, std::wstring(L"QZ_SETUP_MODE"), std::wstring(L"Unattended"))},
        {"the same for a removal, without an exit file",
         "",
         {L"/p", L"Contoso Widget", L"QZ_SETUP_MODE=unattended_uninstall"},
         1,
         30665,
         refused,
         L""},
        {"a wait that is no number of seconds",
         "",
         {L"/p", L"Contoso Widget", L"QZ_SETUP_BUSY_WAIT=soon", L"/e", L"exit.txt"},
         1,
         30665,
         refused,
         Message(IDS_UNEXPECTED_VALUE, std::wstring(L"QZ_SETUP_BUSY_WAIT"), std::wstring(L"soon"))},
        {"blanks around the name in the control file",
         "# distribution settings\r\nQZ_SETUP_PACKAGE_NAME = Contoso Widget\r\n",
         {L"/e", L"exit.txt"},
         1,
         30665,
         refused,
         Message(IDS_NO_PACKAGE_NAMED) + L"\n" +
             Message(IDS_SETTING_NAME_BLANKS, std::wstring(L"QZ_SETUP_PACKAGE_NAME "), 2u,
                     dir + L"qz-setup.dat")},
        {"other installers' silent switches and options in upper case",
         "",
         {L"/quiet", L"/qn", L"/passive", L"/S", L"/silent", L"/verysilent", L"/P", L"Contoso Widget", L"/E",
          L"x.txt", L"/e", L"exit.txt"},
         1,
         30665,
         refused,
         Message(IDS_NO_PACKAGE_NAMED) + L"\n" +
             Message(IDS_ARGUMENTS_IGNORED,
                     std::wstring(L"\"/quiet\", \"/qn\", \"/passive\", \"/S\", \"/silent\", "
                                  L"\"/verysilent\", \"/P\", \"Contoso Widget\", \"/E\", "
                                  L"\"x.txt\""))},
        {"a stray word before a response file that is not there",
         "",
         {L"/p", L"Contoso", L"Widget", L"/r", L"answers.txt", L"/e", L"exit.txt"},
         2,
         2,
         Message(IDS_RESPONSE_FILE_MISSING, dir + L"answers.txt"),
         Message(IDS_ARGUMENTS_IGNORED, std::wstring(L"\"Widget\""))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mistake);
        DeleteFileW((m_dir / L"exit.txt").c_str());
        DeleteFileW(ControlFile().c_str());
        if (!c.controlFile.empty())
            WriteFileBytes(ControlFile(), c.controlFile);
        SetupOptions options;
        options.process.setEnv[L"TEMP"] = m_dir / L"tmp";
        options.process.timeoutMs = 60000;
        const SetupRun run = RunSetup(dir, c.arguments, options);
        ASSERT_FALSE(run.timedOut) << "a dialog waited for somebody";
        EXPECT_TRUE(run.dialogs.empty());
        EXPECT_EQ(c.exitCode, run.exitCode);
        if (!c.reason.empty()) {
            EXPECT_EQ(ExpectedExitFile(c.code, c.code, c.text, c.reason), ReadFileBytes(m_dir / L"exit.txt"));
        }
        EXPECT_FALSE(IsProductRegistered(m_product.productCode));
        EXPECT_FALSE(PathExists(m_dir / L"setup.log"));
        EXPECT_FALSE(PathExists(m_dir / L"tmp")) << "no log file";
    }
}

TEST_F(UnattendedMistakes, WordsLeftOutOfAValueAreNamedInThePlanAndItsLogLines) {
    // "/p Contoso Widget" looks for "Contoso", which this package's name
    // holds: the run would go on, and says what it left out.
    const std::wstring dir = m_dir.path();
    WriteFileBytes(ControlFile(), "QZ_SETUP_VERBOSE =1\r\n");
    const std::wstring ignored = Message(IDS_ARGUMENTS_IGNORED, std::wstring(L"\"Widget\", \"/quiet\""));
    const std::wstring blanks =
        Message(IDS_SETTING_NAME_BLANKS, std::wstring(L"QZ_SETUP_VERBOSE "), 1u, dir + L"qz-setup.dat");
    {
        SCOPED_TRACE("the plan");
        const SetupRun run = RunSetup(dir, {L"/p", L"Contoso", L"Widget", L"/quiet",
                                            L"QZ_SETUP_MODE=UNATTENDED", L"QZ_SETUP_PLAN=plan.json"});
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(0u, run.exitCode);
        const PlanJson plan = ReadPlan(m_dir / L"plan.json");
        PlanJson expected = PlanJson::array();
        expected.push_back({{"text", "Widget"}, {"source", "command line"}});
        expected.push_back({{"text", "/quiet"}, {"source", "command line"}});
        expected.push_back(
            {{"text", "QZ_SETUP_VERBOSE "}, {"source", PlanText(dir + L"qz-setup.dat")}, {"line", 1}});
        EXPECT_EQ(expected, plan["ignoredArguments"]);
        EXPECT_EQ(std::vector<std::string>(), UndocumentedPlanFields(plan));
        // The lines the run would log, first of all.
        ASSERT_GE(plan["log"].size(), 2u);
        EXPECT_EQ(PlanText(L"QZSETUP:BOOTSTRAP:INFO::" + ignored), plan["log"][0]);
        EXPECT_EQ(PlanText(L"QZSETUP:BOOTSTRAP:INFO::" + blanks), plan["log"][1]);
    }
}

// A window station of this test's own, which Windows (and Wine) make
// without WSF_VISIBLE: as a service's or SYSTEM's in session 0.
std::wstring HiddenDesktop() {
    return L"QzHidden" + std::to_wstring(GetCurrentProcessId()) + L"\\Default";
}

TEST_F(UnattendedMistakes, NobodyCanSeeTheWindowStationSoNoDialogWaits) {
    const std::wstring dir = m_dir.path();
    SetupOptions hidden;
    hidden.process.desktop = HiddenDesktop();
    hidden.process.timeoutMs = 60000;
    {
        SCOPED_TRACE("a refused command line, which shows its dialog wherever it can");
        const SetupRun run = RunSetup(dir, {L"/e", L"exit.txt", L"/l"}, hidden);
        ASSERT_FALSE(run.timedOut) << "the dialog waited";
        EXPECT_EQ(30665u, run.exitCode);
        EXPECT_FALSE(PathExists(m_dir / L"exit.txt")) << "a refused command line keeps nothing";
    }
    {
        SCOPED_TRACE("an attended run that ends early");
        const SetupRun run = RunSetup(dir, {L"/p", L"Nothing Like It"}, hidden);
        ASSERT_FALSE(run.timedOut) << "the dialog waited";
        EXPECT_EQ(1u, run.exitCode);
    }
    {
        SCOPED_TRACE("an attended installation with a language to choose");
        // The product's language is not the user's, and a transform of the
        // user's language lies beside it: the dialog would ask. Nobody sees
        // it, so its preselected item, the user's language, is taken.
        m_product.language = OtherLanguage();
        m_product.productCode = NewGuid();
        BuildPackage(m_product, m_dir / L"widget.msi");
        const LANGID user = GetUserDefaultLangID();
        WriteLanguageTransform(m_dir / L"user.mst", user);
        const SetupRun run = RunSetup(dir, {L"/p", L"Contoso Widget", L"/l", L"setup.log"}, hidden);
        ASSERT_FALSE(run.timedOut) << "a dialog waited";
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_TRUE(IsProductRegistered(m_product.productCode));
        EXPECT_EQ(std::to_wstring(user), ProductInfo(m_product.productCode, INSTALLPROPERTY_LANGUAGE));
    }
    {
        SCOPED_TRACE("the plan of an attended run there");
        const SetupRun run = RunSetup(
            dir, {L"/p", L"Contoso Widget", L"QZ_SETUP_MODE=UNINSTALL", L"QZ_SETUP_PLAN=plan.json"}, hidden);
        ASSERT_FALSE(run.timedOut);
        const PlanJson plan = ReadPlan(m_dir / L"plan.json");
        EXPECT_EQ("none", plan["operation"]["userInterface"]);
        // The log says why (under Wine the installer's own log is written
        // over the first lines of the file, so the plan shows them).
        ASSERT_FALSE(plan["log"].empty());
        EXPECT_EQ(PlanText(L"QZSETUP:BOOTSTRAP:INFO::" + Message(IDS_NO_VISIBLE_STATION)), plan["log"][0]);
        EXPECT_EQ("UNINSTALL", (*PlanSetting(plan, "QZ_SETUP_MODE"))["value"])
            << "the mode stays as it was given";
    }
}

} // namespace
