#include "planning/install_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_env.h"

namespace {

const std::wstring kRepair =
    L" REINSTALL=\"ALL\" REINSTALLMODE=\"vomus\" MSIENFORCEUPGRADECOMPONENTRULES=\"1\"";
const std::wstring kRemoval = L" REMOVE=\"ALL\"";
const std::wstring kReboot = L" REBOOT=\"ReallySuppress\"";

TEST(PropertyStringTest, PiecesFollowTheSettingsInTheirFixedOrder) {
    // Every control variable, so each case shows that all of them stay out.
    const VariableMap controls = {
        {L"QZ_SETUP_LOG_FILE", L"C:\\l.log"},
        {L"QZ_SETUP_EXIT_FILE", L"e.txt"},
        {L"QZ_SETUP_HELP_FILE", L"h.txt"},
        {L"QZ_SETUP_PACKAGE_FILE", L"p.msi"},
        {L"QZ_SETUP_TRACE", L"1"},
        {L"QZ_SETUP_VERBOSE", L"1"},
        {L"QZ_SETUP_PACKAGE_NAME", L"Agent"},
        {L"QZ_SETUP_RESPONSE_FILE", L"r.txt"},
        {L"QZ_SETUP_PACKAGE_DIR", L"C:\\p\\"},
        {L"QZ_SETUP_LANG_TRANSFORM_DIR", L"C:\\t\\"},
    };
    const struct {
        const char* name;
        VariableMap variables; // added to the control variables above
        bool registered;
        std::wstring expected;
    } cases[] = {
        {"nothing to pass", {}, false, L""},
        {"the documented example",
         {{L"FOO", L"bar"},
          {L"INSTALLDIR", L"C:\\Program Files\\App"},
          {L"QZ_SETUP_MODE", L"INSTALL"},
          {L"QZ_SUPPRESS_REBOOT", L"1"},
          {L"QZ_SETUP_LANG_TRANSFORM", L"1036.mst"}},
         true,
         L" FOO=\"bar\" INSTALLDIR=\"C:\\Program Files\\App\" REINSTALL=\"ALL\" REINSTALLMODE=\"vomus\" "
         L"MSIENFORCEUPGRADECOMPONENTRULES=\"1\" REBOOT=\"ReallySuppress\" TRANSFORMS=\"1036.mst\""},
        {"names in code-unit order",
         {{L"b", L"2"}, {L"B", L"1"}, {L"_A", L"3"}},
         false,
         L" B=\"1\" _A=\"3\" b=\"2\""},
        {"empty value", {{L"EMPTY", L""}}, false, L" EMPTY=\"\""},
        {"tab is no space", {{L"T", L"a\tb"}}, false, L" T=\"a\tb\""},
        // A double quote inside a value is written twice, the installer's own escape.
        {"double quote without space", {{L"Q", L"a\"b"}}, false, L" Q=\"a\"\"b\""},
        {"double quotes and a space", {{L"Q", L"say \"hi\" now"}}, false, L" Q=\"say \"\"hi\"\" now\""},
        {"only a double quote", {{L"Q", L"\""}}, false, L" Q=\"\"\"\""},
        {"backslash stays", {{L"D", L"C:\\dir\\"}}, false, L" D=\"C:\\dir\\\""},
        {"control names in other case and help pass through",
         {{L"qz_setup_log_file", L"x"}, {L"QZ_SETUP_HELP", L"1"}},
         false,
         L" QZ_SETUP_HELP=\"1\" qz_setup_log_file=\"x\""},
        {"install, registered", {{L"QZ_SETUP_MODE", L"INSTALL"}, {L"A", L"1"}}, true, L" A=\"1\"" + kRepair},
        {"unattended, registered", {{L"QZ_SETUP_MODE", L"UNATTENDED"}}, true, kRepair},
        {"unattended, first installation", {{L"QZ_SETUP_MODE", L"UNATTENDED"}}, false, L""},
        {"uninstall", {{L"QZ_SETUP_MODE", L"UNINSTALL"}, {L"A", L"1"}}, true, L" A=\"1\"" + kRemoval},
        {"unattended uninstall", {{L"QZ_SETUP_MODE", L"UNATTENDED_UNINSTALL"}}, false, kRemoval},
        {"mode in lower case is an installation", {{L"QZ_SETUP_MODE", L"uninstall"}}, true, kRepair},
        {"reboot suppression yes", {{L"QZ_SUPPRESS_REBOOT", L"Yes"}}, false, kReboot},
        {"reboot suppression 0", {{L"QZ_SUPPRESS_REBOOT", L"0"}}, false, L""},
        {"removal, reboot and transform",
         {{L"QZ_SETUP_MODE", L"UNATTENDED_UNINSTALL"},
          {L"QZ_SUPPRESS_REBOOT", L"true"},
          {L"QZ_SETUP_LANG_TRANSFORM", L"C:\\t\\1031.mst"}},
         true,
         kRemoval + kReboot + L" TRANSFORMS=\"C:\\t\\1031.mst\""},
        {"empty transform is not set", {{L"QZ_SETUP_LANG_TRANSFORM", L""}}, false, L""},
        // A NUL would end the whole string there: the value ends at it instead.
        {"a NUL inside a value ends the value, not the string",
         {{std::wstring(L"N\0x", 3), std::wstring(L"a\"b\0c", 5)},
          {L"QZ_SETUP_MODE", L"UNATTENDED_UNINSTALL"},
          {L"QZ_SUPPRESS_REBOOT", L"1"}},
         false,
         L" N=\"a\"\"b\"" + kRemoval + kReboot},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VariableMap variables = controls;
        for (const auto& entry : c.variables)
            variables[entry.first] = entry.second;
        EXPECT_EQ(InstallPropertyString(variables, OperationFor(SetupModeOf(variables), c.registered)),
                  c.expected);
        // The pass-through part on its own is where the whole string starts.
        EXPECT_EQ(c.expected.rfind(PassThroughProperties(variables), 0), 0u);
    }
}

// The plan shows the same string with the values it must not show masked;
// the installer gets them as they are.
TEST(PropertyStringTest, HiddenValuesAreMaskedOnlyInWhatIsShown) {
    const VariableMap variables = {{L"SERVICE_KEY", L"k3y"},
                                   {L"Db_Password", L"pa\"ss word"},
                                   {L"INSTALLDIR", L"C:\\Agent"},
                                   {L"QZ_SETUP_MODE", L"INSTALL"},
                                   {L"QZ_SUPPRESS_REBOOT", L"1"}};
    const HiddenValues hidden(L"SERVICE_KEY");
    EXPECT_EQ(L" Db_Password=\"pa\"\"ss word\" INSTALLDIR=\"C:\\Agent\" SERVICE_KEY=\"k3y\"" + kReboot,
              InstallPropertyString(variables, InstallOperation::Install));
    EXPECT_EQ(L" Db_Password=\"********\" INSTALLDIR=\"C:\\Agent\" SERVICE_KEY=\"********\"" + kRepair +
                  kReboot,
              InstallPropertyString(variables, InstallOperation::Repair, &hidden));
}

// The patches come last, as one piece, and never into a removal.
TEST(PropertyStringTest, PatchesAreTheLastPieceOutsideARemoval) {
    const VariableMap variables = {{L"INSTALLDIR", L"C:\\Agent"},
                                   {L"QZ_SETUP_LANG_TRANSFORM", L"fr.mst"},
                                   {L"QZ_SETUP_PATCHES", L"*"},
                                   {L"QZ_SUPPRESS_REBOOT", L"1"}};
    const std::wstring patches = L"C:\\p\\a.msp;C:\\p\\b.msp";
    const std::wstring before = L" INSTALLDIR=\"C:\\Agent\"";
    const std::wstring after = kReboot + L" TRANSFORMS=\"fr.mst\"";
    const std::wstring piece = L" PATCH=\"" + patches + L"\"";
    EXPECT_EQ(before + after + piece,
              InstallPropertyString(variables, InstallOperation::Install, nullptr, patches));
    EXPECT_EQ(before + kRepair + after + piece,
              InstallPropertyString(variables, InstallOperation::Repair, nullptr, patches));
    EXPECT_EQ(InstallPropertyString(variables, InstallOperation::Remove),
              InstallPropertyString(variables, InstallOperation::Remove, nullptr, patches));
    EXPECT_EQ(before + after, InstallPropertyString(variables, InstallOperation::Install));
}

TEST(InstallerLogMode, FourModesAndTheirLetters) {
    const struct {
        bool trace, verbose;
        DWORD mode;
        const wchar_t* letters;
    } cases[] = {
        {false, false, 0xD7, L"iwemo"},
        {true, false, 0xBDF, L"iwearucmo"},
        {false, true, 0x34D7, L"iwemopvx"},
        {true, true, 0x3FDF, L"iwearucmopvx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "trace " << c.trace << ", verbose " << c.verbose);
        EXPECT_EQ(c.mode, InstallerLogMode(c.trace, c.verbose));
        EXPECT_EQ(c.letters, LogModeLetters(c.mode));
    }
}

TEST(MsiexecCommandLine, TheSameCallByHand) {
    EXPECT_EQ(L"msiexec.exe /i \"C:\\Setup\\Agent x64.msi\" INSTALLDIR=\"C:\\Program Files\\Agent\" "
              L"REBOOT=\"ReallySuppress\" /qn /liwemo+ \"C:\\Temp\\Agent_install.log\"",
              MsiexecCommandLine(L"C:\\Setup\\Agent x64.msi",
                                 L" INSTALLDIR=\"C:\\Program Files\\Agent\" REBOOT=\"ReallySuppress\"", true,
                                 0xD7, L"C:\\Temp\\Agent_install.log"));
    EXPECT_EQ(L"msiexec.exe /i \"a.msi\" /qf /liwearucmopvx+ \"a.log\"",
              MsiexecCommandLine(L"a.msi", L"", false, 0x3FDF, L"a.log"));
}

TEST(OperationName, EveryOperation) {
    EXPECT_STREQ("install", OperationName(InstallOperation::Install));
    EXPECT_STREQ("repair", OperationName(InstallOperation::Repair));
    EXPECT_STREQ("remove", OperationName(InstallOperation::Remove));
}

} // namespace
