#include "settings/setting_origins.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/test_env.h"

namespace {

using Passed = std::vector<std::pair<SettingOrigin, std::wstring>>;

// The settings of a run as the run sequence sees them: the three sources,
// merged in their order, then the expansion and the derivation.
TEST(SettingOrigins, SourcesExpansionAndDerivation) {
    const VariableMap commandLine{{L"QZ_SETUP_LOG_FILE", L"%TEMP%\\setup.log"},
                                  {L"QZ_SETUP_PACKAGE_NAME", L"Agent"},
                                  {L"QZ_SETUP_PACKAGE_DIR", L"packages"}};
    const VariableMap controlFile{{L"QZ_SETUP_PACKAGE_NAME", L"Other"},
                                  {L"INSTALLDIR", L"C:\\Agent"},
                                  {L"QZ_SETUP_RESPONSE_FILE", L"answers.rsp"}};
    const VariableMap responseFile{
        {L"INSTALLDIR", L"D:\\Agent"}, {L"QZ_SETUP_PACKAGE_NAME", L"Third"}, {L"COMPANY", L"QZ"}};

    SettingOrigins origins;
    VariableMap variables = commandLine;
    origins.NoteSource(SettingOrigin::CommandLine, commandLine);
    MergeVariables(variables, controlFile);
    origins.NoteSource(SettingOrigin::ControlFile, controlFile);
    MergeVariables(variables, responseFile);
    origins.NoteSource(SettingOrigin::ResponseFile, responseFile);

    VariableMap before = variables;
    variables[L"QZ_SETUP_LOG_FILE"] = L"C:\\Temp\\setup.log";
    origins.NoteChanges(before, variables, SettingOrigin::EnvironmentExpansion);

    before = variables;
    variables[L"QZ_SETUP_PACKAGE_DIR"] = L"C:\\Setup\\packages\\";       // made absolute
    variables[L"QZ_SETUP_PACKAGE_FILE"] = L"C:\\Setup\\packages\\a.msi"; // located
    variables[L"QZ_SETUP_MODE"] = L"UNATTENDED";                         // its default
    variables[L"QZ_SUPPRESS_REBOOT"] = L"1";                             // its default
    origins.NoteChanges(before, variables, SettingOrigin::Derived, DefaultedSettingNames());

    const struct {
        const wchar_t* name;
        SettingOrigin origin;
        SettingOrigin givenBy;
        const wchar_t* givenValue;
        Passed passedOver;
    } cases[] = {
        {L"QZ_SETUP_LOG_FILE",
         SettingOrigin::EnvironmentExpansion,
         SettingOrigin::CommandLine,
         L"%TEMP%\\setup.log",
         {}},
        {L"QZ_SETUP_PACKAGE_NAME",
         SettingOrigin::CommandLine,
         SettingOrigin::CommandLine,
         L"Agent",
         {{SettingOrigin::ControlFile, L"Other"}, {SettingOrigin::ResponseFile, L"Third"}}},
        {L"QZ_SETUP_PACKAGE_DIR", SettingOrigin::Derived, SettingOrigin::CommandLine, L"packages", {}},
        {L"QZ_SETUP_RESPONSE_FILE",
         SettingOrigin::ControlFile,
         SettingOrigin::ControlFile,
         L"answers.rsp",
         {}},
        {L"INSTALLDIR",
         SettingOrigin::ControlFile,
         SettingOrigin::ControlFile,
         L"C:\\Agent",
         {{SettingOrigin::ResponseFile, L"D:\\Agent"}}},
        {L"COMPANY", SettingOrigin::ResponseFile, SettingOrigin::ResponseFile, L"QZ", {}},
        {L"QZ_SETUP_PACKAGE_FILE", SettingOrigin::Derived, SettingOrigin::Derived, L"", {}},
        {L"QZ_SETUP_MODE", SettingOrigin::Default, SettingOrigin::Default, L"", {}},
        {L"QZ_SUPPRESS_REBOOT", SettingOrigin::Default, SettingOrigin::Default, L"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.name));
        const SettingSource* source = origins.Find(c.name);
        ASSERT_NE(nullptr, source);
        EXPECT_STREQ(SettingOriginName(c.origin), SettingOriginName(source->origin));
        EXPECT_STREQ(SettingOriginName(c.givenBy), SettingOriginName(source->givenBy));
        EXPECT_EQ(c.givenValue, source->givenValue);
        EXPECT_EQ(c.passedOver, source->passedOver);
    }
    EXPECT_EQ(nullptr, origins.Find(L"qz_setup_package_name")) << "names are case-sensitive";
}

TEST(SettingOrigins, AStepThatChangesNothingLeavesTheOrigin) {
    const VariableMap commandLine{{L"A", L"%NOT_SET%"}, {L"B", L""}};
    SettingOrigins origins;
    origins.NoteSource(SettingOrigin::CommandLine, commandLine);
    origins.NoteChanges(commandLine, commandLine, SettingOrigin::EnvironmentExpansion);
    for (const wchar_t* name : {L"A", L"B"}) {
        ASSERT_NE(nullptr, origins.Find(name));
        EXPECT_EQ(SettingOrigin::CommandLine, origins.Find(name)->origin);
    }
}

TEST(SettingOriginName, EveryOrigin) {
    const std::pair<SettingOrigin, const char*> names[] = {
        {SettingOrigin::CommandLine, "command line"},
        {SettingOrigin::ControlFile, "control file"},
        {SettingOrigin::ResponseFile, "response file"},
        {SettingOrigin::EnvironmentExpansion, "environment expansion"},
        {SettingOrigin::Derived, "derived"},
        {SettingOrigin::Default, "default"},
    };
    for (const auto& name : names)
        EXPECT_STREQ(name.second, SettingOriginName(name.first));
}

} // namespace
