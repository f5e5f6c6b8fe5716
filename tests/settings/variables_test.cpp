#include "settings/variables.h"

#include <gtest/gtest.h>

#include <string>

#include "system/path_helpers.h"
#include "support/test_env.h"

namespace {

// Publishes a map through g_variables for the readers, and withdraws it afterwards.
class PublishedVariables : public ::testing::Test {
protected:
    void Publish(VariableMap map) {
        m_map = std::move(map);
        g_variables = &m_map;
    }
    void TearDown() override { g_variables = nullptr; }

private:
    VariableMap m_map;
};

TEST(IsTrueValue, BooleanRule) {
    const struct {
        const wchar_t* value;
        bool truth;
    } cases[] = {
        {L"1", true},   {L"TRUE", true},  {L"true", true},   {L"tRuE", true},  {L"Yes", true},
        {L"YES", true}, {L"yes", true},   {L"01", false},    {L"on", false},   {L"", false},
        {L"0", false},  {L"no", false},   {L" 1", false},    {L"yes ", false}, {L"1 ", false},
        {L"ye", false}, {L"yess", false}, {L"truex", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.truth, IsTrueValue(c.value)) << qztest::ToUtf8(c.value);
}

TEST_F(PublishedVariables, GetVariableReportsOnlySetValues) {
    Publish({{L"SET", L"value"}, {L"EMPTY", L""}});

    std::wstring value = L"before";
    EXPECT_TRUE(GetVariable(L"SET", value));
    EXPECT_EQ(L"value", value);

    for (const wchar_t* name : {L"EMPTY", L"MISSING", L"set"}) {
        value = L"before";
        EXPECT_FALSE(GetVariable(name, value)) << qztest::ToUtf8(name);
        EXPECT_EQ(L"before", value) << qztest::ToUtf8(name);
    }
}

// The reader of a map: exact names, and a NUL inside a name is part of it.
TEST(VariableValue, ExactNameOrEmpty) {
    const VariableMap map{{L"SET", L"value"}, {L"EMPTY", L""}, {std::wstring(L"A\0B", 3), L"nul"}};
    const struct {
        std::wstring name;
        const wchar_t* value;
    } cases[] = {
        {L"SET", L"value"},
        {L"set", L""},
        {L"EMPTY", L""},
        {L"MISSING", L""},
        {std::wstring(L"A\0B", 3), L"nul"},
        {L"A", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, VariableValue(map, c.name)) << qztest::ToUtf8(c.name);
}

TEST(GetVariable, NothingBeforePublication) {
    ASSERT_EQ(nullptr, g_variables);
    std::wstring value = L"before";
    EXPECT_FALSE(GetVariable(QZ_SETUP_MODE, value));
    EXPECT_EQ(L"before", value);
    EXPECT_EQ(INSTALL, GetSetupMode());
}

TEST_F(PublishedVariables, IsVariableTrue) {
    Publish({{L"QZ_SETUP_VERBOSE", L"Yes"}, {L"QZ_SETUP_TRACE", L"01"}, {L"QZ_SUPPRESS_REBOOT", L""}});
    const struct {
        const wchar_t* name;
        bool present;
        bool truth;
    } cases[] = {
        {L"QZ_SETUP_VERBOSE", true, true},
        {L"QZ_SETUP_TRACE", true, false},
        {L"QZ_SUPPRESS_REBOOT", false, false},
        {L"QZ_SETUP_HELP", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.name));
        bool truth = !c.truth;
        EXPECT_EQ(c.present, IsVariableTrue(truth, c.name));
        EXPECT_EQ(c.truth, truth);
    }
}

// The published reader, the reader of a map and the check of a value read
// the mode by one rule.
TEST_F(PublishedVariables, GetSetupModeComparesExactly) {
    const struct {
        const wchar_t* value; // null: not present
        SetupMode mode;
        bool named; // the value names a mode
    } cases[] = {
        {L"INSTALL", INSTALL, true},       {L"UNINSTALL", UNINSTALL, true},
        {L"UNATTENDED", UNATTENDED, true}, {L"UNATTENDED_UNINSTALL", UNATTENDED_UNINSTALL, true},
        {L"unattended", INSTALL, false},   {L"UNATTENDED ", INSTALL, false},
        {L"Uninstall", INSTALL, false},    {L"", INSTALL, false},
        {nullptr, INSTALL, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? qztest::ToUtf8(c.value) : "(absent)");
        VariableMap map{{L"OTHER", L"UNINSTALL"}};
        if (c.value)
            map[L"QZ_SETUP_MODE"] = c.value;
        Publish(map);
        EXPECT_EQ(c.mode, GetSetupMode());
        EXPECT_EQ(c.mode, SetupModeOf(map));
        SetupMode parsed = UNATTENDED_UNINSTALL;
        EXPECT_EQ(c.named, ParseSetupMode(c.value ? c.value : L"", parsed));
        EXPECT_EQ(c.named ? c.mode : UNATTENDED_UNINSTALL, parsed);
    }
}

TEST(MergeVariables, EarlierSourcesWin) {
    VariableMap run{{L"QZ_SETUP_PACKAGE_NAME", L"FromCommandLine"}, {L"EMPTY", L""}};
    const VariableMap controlFile{{L"QZ_SETUP_PACKAGE_NAME", L"FromControlFile"},
                                  {L"INSTALLDIR", L"FromControlFile"},
                                  {L"EMPTY", L"x"}};
    const VariableMap responseFile{{L"INSTALLDIR", L"FromResponseFile"},
                                   {L"COMPANY", L"FromResponseFile"},
                                   {L"qz_setup_package_name", L"lower"}};

    MergeVariables(run, controlFile);
    MergeVariables(run, responseFile);

    const VariableMap expected{{L"QZ_SETUP_PACKAGE_NAME", L"FromCommandLine"},
                               {L"EMPTY", L""}, // present, though empty: keeps its value
                               {L"INSTALLDIR", L"FromControlFile"},
                               {L"COMPANY", L"FromResponseFile"},
                               {L"qz_setup_package_name", L"lower"}};
    EXPECT_EQ(expected, run);
}

TEST(ControlVariables, FixedTablesAndCaseSensitiveNames) {
    const wchar_t* const order[] = {QZ_SETUP_LOG_FILE,
                                    QZ_SETUP_EXIT_FILE,
                                    QZ_SETUP_HELP_FILE,
                                    QZ_SETUP_PACKAGE_FILE,
                                    QZ_SETUP_TRACE,
                                    QZ_SETUP_VERBOSE,
                                    QZ_SETUP_PACKAGE_NAME,
                                    QZ_SETUP_RESPONSE_FILE,
                                    QZ_SETUP_PACKAGE_DIR,
                                    QZ_SETUP_MODE,
                                    QZ_SUPPRESS_REBOOT,
                                    QZ_SETUP_LANG_TRANSFORM,
                                    QZ_SETUP_LANG_TRANSFORM_DIR,
                                    QZ_SETUP_EXIT_CODE,
                                    QZ_SETUP_BUSY_WAIT,
                                    QZ_SETUP_PLAN};
    for (int i = 0; i < 16; ++i) {
        EXPECT_STREQ(order[i], g_controlVariableNames[i]) << i;
        if (i < 11) {
            EXPECT_STREQ(order[i], g_expandedVariableNames[i]) << i;
        }
    }
    EXPECT_STREQ(L"QZ_SETUP_LOG_FILE", QZ_SETUP_LOG_FILE);
    EXPECT_STREQ(L"QZ_SETUP_LANG_TRANSFORM_DIR", QZ_SETUP_LANG_TRANSFORM_DIR);
    EXPECT_STREQ(L"QZ_SETUP_EXIT_CODE", g_unexpandedVariableNames[0]);
    EXPECT_STREQ(L"QZ_SETUP_BUSY_WAIT", g_unexpandedVariableNames[1]);
    // The plan file's path is expanded like the exit file's, and so are the
    // transform and its folder.
    EXPECT_STREQ(L"QZ_SETUP_PLAN", g_expandedVariableNames[11]);
    EXPECT_STREQ(L"QZ_SETUP_LANG_TRANSFORM", g_expandedVariableNames[12]);
    EXPECT_STREQ(L"QZ_SETUP_LANG_TRANSFORM_DIR", g_expandedVariableNames[13]);
    // The patches come last, expanded like the transform.
    EXPECT_STREQ(L"QZ_SETUP_PATCHES", g_controlVariableNames[16]);
    EXPECT_STREQ(L"QZ_SETUP_PATCHES", g_expandedVariableNames[14]);
    // The machine of a plan comes after them, compared as stored.
    EXPECT_STREQ(L"QZ_SETUP_PLAN_AS", g_controlVariableNames[17]);
    EXPECT_STREQ(L"QZ_SETUP_PLAN_AS", g_unexpandedVariableNames[2]);
    // Then what the winget manifests take from the publisher: the zip is a
    // file name, expanded like the others; the texts (a URL may hold "%") never are.
    const wchar_t* const winget[] = {QZ_SETUP_WINGET_ID, QZ_SETUP_WINGET_LICENSE, QZ_SETUP_WINGET_DESCRIPTION,
                                     QZ_SETUP_WINGET_URL, QZ_SETUP_WINGET_ZIP};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(winget[i], g_controlVariableNames[18 + i]) << i;
        if (i < 4) {
            EXPECT_STREQ(winget[i], g_unexpandedVariableNames[3 + i]) << i;
        }
    }
    EXPECT_STREQ(L"QZ_SETUP_WINGET_ZIP", g_expandedVariableNames[15]);
    EXPECT_TRUE(IsControlVariable(L"QZ_SETUP_WINGET_URL"));

    EXPECT_TRUE(IsControlVariable(L"QZ_SETUP_PACKAGE_NAME"));
    EXPECT_FALSE(IsControlVariable(L"qz_setup_package_name"));
    EXPECT_FALSE(IsControlVariable(QZ_SETUP_HELP)) << "help is a pass-through variable";

    const wchar_t* const modes[] = {L"INSTALL", L"UNINSTALL", L"UNATTENDED", L"UNATTENDED_UNINSTALL"};
    for (int i = 0; i < 4; ++i)
        EXPECT_STREQ(modes[i], g_setupModeNames[i]) << i;
}

TEST(GetControlFilePath, BesideTheExecutable) {
    EXPECT_EQ(qztest::BinDir() + L"qz-setup.dat", GetControlFilePath());
}

} // namespace
