#include "settings/value_expansion.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "msi/package_properties.h"
#include "support/package_builder.h"
#include "support/test_env.h"

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    return std::wstring(buffer, length);
}

// Sets an environment variable of the process for the lifetime of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value) : m_name(name) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(m_name, nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const wchar_t* m_name;
};

TEST(ExpandEnvironmentVars, References) {
    const std::wstring temp = Environment(L"TEMP");
    ASSERT_FALSE(temp.empty());
    const ScopedEnvironment mixed(L"QZ_Test_Mixed", L"mixed");
    const struct {
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {L"", L""},
        {L"no references here", L"no references here"},
        {L"%TEMP%\\x.log", temp + L"\\x.log"},
        {L"%temp%\\x.log", temp + L"\\x.log"},
        {L"%QZ_TEST_MIXED%|%qz_test_mixed%", L"mixed|mixed"},
        {L"%NO_SUCH_VARIABLE_QZ%\\x", L"%NO_SUCH_VARIABLE_QZ%\\x"},
        {L"100% sure", L"100% sure"},
        {L"%", L"%"},
        {L"%%", L"%%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.text));
        EXPECT_EQ(c.expected, ExpandEnvironmentVars(c.text));
        EXPECT_EQ(c.expected, ExpandEnvironmentVars(c.text.c_str()));
    }
}

TEST(ExpandEnvironmentVars, LongResults) {
    const std::wstring longValue(300, L'v');
    const ScopedEnvironment variable(L"QZ_TEST_LONG", longValue);
    const std::wstring plain(250, L'p');
    const struct {
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {L"%QZ_TEST_LONG%\\tail", longValue + L"\\tail"},
        {plain, plain},
        {std::wstring(99, L'a'), std::wstring(99, L'a')},
        {std::wstring(100, L'a'), std::wstring(100, L'a')},
        {std::wstring(101, L'a'), std::wstring(101, L'a')},
        {L"%QZ_TEST_LONG%%QZ_TEST_LONG%%QZ_TEST_LONG%", longValue + longValue + longValue},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        EXPECT_EQ(c.expected, ExpandEnvironmentVars(c.text));
    }
}

TEST(ExpandControlVariables, OnlyTheFirstElevenControlVariablesThePlanFileAndTheTransforms) {
    const std::wstring temp = Environment(L"TEMP");
    VariableMap variables{
        {L"QZ_SETUP_LOG_FILE", L"%TEMP%\\setup.log"},
        {L"QZ_SETUP_EXIT_FILE", L"%TEMP%\\exit.txt"},
        {L"QZ_SUPPRESS_REBOOT", L"%TEMP%"},
        {L"QZ_SETUP_LANG_TRANSFORM", L"%TEMP%\\1031.mst"},
        {L"QZ_SETUP_LANG_TRANSFORM_DIR", L"%TEMP%"},
        {L"QZ_SETUP_HELP", L"%TEMP%"},
        {L"qz_setup_log_file", L"%TEMP%"},
        {L"INSTALLDIR", L"%TEMP%\\x"},
        {L"QZ_SETUP_EXIT_CODE", L"%TEMP%"},
        {L"QZ_SETUP_BUSY_WAIT", L"%TEMP%"},
        {L"QZ_SETUP_PLAN", L"%TEMP%\\plan.json"},
    };
    VariableMap expected = variables;
    expected[L"QZ_SETUP_PLAN"] = temp + L"\\plan.json";
    expected[L"QZ_SETUP_LOG_FILE"] = temp + L"\\setup.log";
    expected[L"QZ_SETUP_EXIT_FILE"] = temp + L"\\exit.txt";
    expected[L"QZ_SUPPRESS_REBOOT"] = temp;
    // The transform and its folder too: the checks see what the installer gets.
    expected[L"QZ_SETUP_LANG_TRANSFORM"] = temp + L"\\1031.mst";
    expected[L"QZ_SETUP_LANG_TRANSFORM_DIR"] = temp;

    ExpandControlVariables(variables);
    EXPECT_EQ(expected, variables);
}

class ExpandPassThroughVariablesTest : public ::testing::Test {
protected:
    std::wstring BuildPackageFor(const wchar_t* platform) {
        qztest::PackageSpec recipe;
        recipe.platform = platform;
        const std::wstring path = m_dir / (std::wstring(platform) + L".msi");
        qztest::BuildPackage(recipe, path);
        return path;
    }

    VariableMap Sample(const std::wstring& package) const {
        return {
            {L"QZ_SETUP_PACKAGE_FILE", package},
            {L"QZ_SETUP_LOG_FILE", L"%ProgramFiles%\\setup.log"},
            // Expanded with the other control variables, before the checks.
            {L"QZ_SETUP_LANG_TRANSFORM_DIR", L"%ProgramFiles%\\mst"},
            {L"QZ_SETUP_LANG_TRANSFORM", L"%ProgramFiles%\\mst\\fr.mst"},
            {L"INSTALLDIR", L"%ProgramFiles%\\Vendor"},
            {L"TWICE", L"%ProgramFiles%;%ProgramFiles%"},
            {L"LOWER", L"%programfiles%\\Vendor"},
            {L"COMMON", L"%CommonProgramFiles%\\Vendor;%ProgramFiles%"},
            {L"TEMPDIR", L"%TEMP%"},
            {L"PLAIN", L"text"},
            // Never expanded, whatever the package.
            {L"QZ_SETUP_EXIT_CODE", L"%ProgramFiles%"},
            {L"QZ_SETUP_BUSY_WAIT", L"%TEMP%"},
            {L"QZ_SETUP_PLAN", L"%ProgramFiles%\\plan.json"},
        };
    }

    // A 64-bit package: the pass-through values name the native folders.
    void ExpectNativeFolders(const std::wstring& package);

    qztest::TempDir m_dir;
};

TEST_F(ExpandPassThroughVariablesTest, X64AndArm64PackagesPointAtTheNativeFolders) {
    for (const wchar_t* platform : {L"x64", L"Arm64"}) {
        SCOPED_TRACE(qztest::ToUtf8(platform));
        ExpectNativeFolders(BuildPackageFor(platform));
    }
}

void ExpandPassThroughVariablesTest::ExpectNativeFolders(const std::wstring& package) {
    const std::wstring programFiles = Environment(L"ProgramFiles");
    const std::wstring programFiles64 = Environment(L"ProgramW6432");
    const std::wstring common64 = Environment(L"CommonProgramW6432");
    ASSERT_FALSE(programFiles64.empty()) << "a 64-bit system is needed";
#ifdef _WIN64
    // A 64-bit program sees the native folders under both names, so the
    // rewrite names the same folder; the expectations below still hold.
    ASSERT_EQ(programFiles, programFiles64);
#else
    // A 32-bit program's %ProgramFiles% is the 32-bit folder.
    ASSERT_NE(programFiles, programFiles64);
#endif

    VariableMap variables = Sample(package);
    ExpandPassThroughVariables(variables, QZ::MSInstaller::GetPckgPlatform(0, package));

    VariableMap expected = Sample(package);
    expected[L"INSTALLDIR"] = programFiles64 + L"\\Vendor";
    expected[L"TWICE"] = programFiles64 + L";" + programFiles;
    expected[L"LOWER"] = programFiles + L"\\Vendor";
    expected[L"COMMON"] = common64 + L"\\Vendor;" + programFiles64;
    expected[L"TEMPDIR"] = Environment(L"TEMP");
    EXPECT_EQ(expected, variables);
}

TEST_F(ExpandPassThroughVariablesTest, IntelPackageKeepsEveryReference) {
    const std::wstring package = BuildPackageFor(L"Intel");
    VariableMap variables = Sample(package);
    ExpandPassThroughVariables(variables, QZ::MSInstaller::GetPckgPlatform(0, package));
    EXPECT_EQ(Sample(package), variables);
}

} // namespace
