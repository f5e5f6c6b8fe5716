// The checks of the gathered settings, in their order.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"
#include "planning/validation.h"
#include "support/test_env.h"

namespace {

class ValidationTest : public ::testing::Test {
protected:
    void SetUp() override {
        qztest::WriteFileBytes(m_dir / L"package.msi", "not looked into");
        qztest::WriteFileBytes(m_dir / L"help.txt", "help");
        ASSERT_TRUE(CreateDirectoryW((m_dir / L"folder.msi").c_str(), nullptr));
        ASSERT_TRUE(SetEnvironmentVariableW(L"QZ_VALIDATION_DIR", m_dir.path().c_str()));
    }
    void TearDown() override { SetEnvironmentVariableW(L"QZ_VALIDATION_DIR", nullptr); }

    qztest::TempDir m_dir;
};

struct ValidationCase {
    const char* what;
    VariableMap variables;
    std::wstring message; // empty: accepted
};

// Each case is accepted, or refused with its one message as an error line.
template <std::size_t N> void ExpectValidation(const ValidationCase (&cases)[N]) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstringbuf log;
        bool accepted = false;
        {
            LogStreamCapture capture(log);
            accepted = ValidateSettings(c.variables);
        }
        EXPECT_EQ(c.message.empty(), accepted);
        const std::wstring expected =
            c.message.empty() ? L"" : L"QZSETUP:BOOTSTRAP:ERR::" + c.message + L"\r\n";
        EXPECT_EQ(expected, log.str()) << qztest::ToUtf8(log.str());
    }
}

TEST_F(ValidationTest, RefusesWithOneMessageInRuleOrder) {
    const std::wstring dir = m_dir.path();
    const std::wstring missingFile = L"Package file " + dir + L"missing.msi does not exist!";
    const ValidationCase cases[] = {
        {"only a package name", {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}}, L""},
        {"an empty package name counts as given", {{L"QZ_SETUP_PACKAGE_NAME", L""}}, L""},
        {"an existing package file, through an environment reference",
         {{L"QZ_SETUP_PACKAGE_FILE", L"%QZ_VALIDATION_DIR%package.msi"}},
         L""},
        {"no package at all",
         {{L"QZ_SETUP_MODE", L"INSTALL"}},
         L"Package name and package file name are missing. Either is required."},
        {"help still needs a package",
         {{L"QZ_SETUP_HELP", L"1"}},
         L"Package name and package file name are missing. Either is required."},
        {"a missing package file, shown expanded",
         {{L"QZ_SETUP_PACKAGE_FILE", L"%QZ_VALIDATION_DIR%missing.msi"}},
         missingFile},
        {"a package file that is a directory",
         {{L"QZ_SETUP_PACKAGE_FILE", dir + L"folder.msi"}},
         L"Package file " + dir + L"folder.msi does not exist!"},
        {"a name does not excuse a missing file",
         {{L"QZ_SETUP_PACKAGE_FILE", dir + L"missing.msi"}, {L"QZ_SETUP_PACKAGE_NAME", L"Agent"}},
         missingFile},
        {"a missing package file comes before a bad mode",
         {{L"QZ_SETUP_PACKAGE_FILE", dir + L"missing.msi"}, {L"QZ_SETUP_MODE", L"install"}},
         missingFile},
        {"a missing package file comes before a missing help file",
         {{L"QZ_SETUP_PACKAGE_FILE", dir + L"missing.msi"},
          {L"QZ_SETUP_HELP", L""},
          {L"QZ_SETUP_HELP_FILE", dir + L"nohelp.txt"}},
         missingFile},
        {"a missing help file, shown expanded",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"},
          {L"QZ_SETUP_HELP", L"1"},
          {L"QZ_SETUP_HELP_FILE", L"%QZ_VALIDATION_DIR%nohelp.txt"}},
         L"Help file " + dir + L"nohelp.txt does not exist. Cannot display package help!"},
        {"an existing help file",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"},
          {L"QZ_SETUP_HELP", L"1"},
          {L"QZ_SETUP_HELP_FILE", L"%QZ_VALIDATION_DIR%help.txt"}},
         L""},
        {"help without a help file, and the mode is not looked at",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_HELP", L"0"}, {L"QZ_SETUP_MODE", L"bogus"}},
         L""},
        {"a help file is not checked without help",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_HELP_FILE", dir + L"nohelp.txt"}},
         L""},
        {"mode in lower case",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_MODE", L"install"}},
         L"Parameter QZ_SETUP_MODE contains unexpected value install."},
        {"mode with a trailing blank, shown as stored",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_MODE", L"INSTALL "}},
         L"Parameter QZ_SETUP_MODE contains unexpected value INSTALL ."},
        {"an empty mode",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_MODE", L""}},
         L"Parameter QZ_SETUP_MODE contains unexpected value ."},
        {"a mode is not expanded",
         {{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_MODE", L"%QZ_VALIDATION_DIR%"}},
         L"Parameter QZ_SETUP_MODE contains unexpected value %QZ_VALIDATION_DIR%."},
    };
    ExpectValidation(cases);
}

TEST_F(ValidationTest, EveryModeIsAcceptedAsWritten) {
    for (const wchar_t* mode : {L"INSTALL", L"UNINSTALL", L"UNATTENDED", L"UNATTENDED_UNINSTALL"}) {
        SCOPED_TRACE(qztest::ToUtf8(mode));
        std::wstringbuf log;
        LogStreamCapture capture(log);
        EXPECT_TRUE(ValidateSettings({{L"QZ_SETUP_PACKAGE_NAME", L"Agent"}, {L"QZ_SETUP_MODE", mode}}));
        EXPECT_TRUE(log.str().empty());
    }
}

// The two settings for deployment tools are checked after the mode, as
// stored, and not in help runs.
TEST_F(ValidationTest, DeploymentSettingsAreCheckedAfterTheMode) {
    const std::wstring name = L"QZ_SETUP_PACKAGE_NAME";
    const ValidationCase cases[] = {
        {"installer exit codes", {{name, L"Agent"}, {L"QZ_SETUP_EXIT_CODE", L"INSTALLER"}}, L""},
        {"an exit-code value in lower case",
         {{name, L"Agent"}, {L"QZ_SETUP_EXIT_CODE", L"installer"}},
         L"Parameter QZ_SETUP_EXIT_CODE contains unexpected value installer."},
        {"an empty exit-code value",
         {{name, L"Agent"}, {L"QZ_SETUP_EXIT_CODE", L""}},
         L"Parameter QZ_SETUP_EXIT_CODE contains unexpected value ."},
        {"an exit-code value with a blank",
         {{name, L"Agent"}, {L"QZ_SETUP_EXIT_CODE", L"INSTALLER "}},
         L"Parameter QZ_SETUP_EXIT_CODE contains unexpected value INSTALLER ."},
        {"the mode is refused first",
         {{name, L"Agent"}, {L"QZ_SETUP_MODE", L"bogus"}, {L"QZ_SETUP_EXIT_CODE", L"bogus"}},
         L"Parameter QZ_SETUP_MODE contains unexpected value bogus."},
        {"the exit code before the wait",
         {{name, L"Agent"}, {L"QZ_SETUP_EXIT_CODE", L"0"}, {L"QZ_SETUP_BUSY_WAIT", L"x"}},
         L"Parameter QZ_SETUP_EXIT_CODE contains unexpected value 0."},
        {"not in help runs",
         {{name, L"Agent"},
          {L"QZ_SETUP_HELP", L"1"},
          {L"QZ_SETUP_EXIT_CODE", L"x"},
          {L"QZ_SETUP_BUSY_WAIT", L"0"}},
         L""},
        {"one second", {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"1"}}, L""},
        {"an hour, with leading zeros", {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"0003600"}}, L""},
        {"no wait at all",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"0"}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value 0."},
        {"over an hour",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"3601"}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value 3601."},
        {"a number too long for any integer",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"99999999999999999999"}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value 99999999999999999999."},
        {"a sign",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"+5"}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value +5."},
        {"a blank",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L" 5"}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value  5."},
        {"an empty wait",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L""}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value ."},
        {"a wait is not expanded",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"%QZ_VALIDATION_SECONDS%"}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value %QZ_VALIDATION_SECONDS%."},
    };
    SetEnvironmentVariableW(L"QZ_VALIDATION_SECONDS", L"5");
    ExpectValidation(cases);
    SetEnvironmentVariableW(L"QZ_VALIDATION_SECONDS", nullptr);
}

// The transform reaches the installer inside TRANSFORMS="...": a double
// quote would end that value there.
TEST_F(ValidationTest, ATransformWithADoubleQuoteIsRefusedLast) {
    const std::wstring name = L"QZ_SETUP_PACKAGE_NAME";
    const ValidationCase cases[] = {
        {"a transform path", {{name, L"Agent"}, {L"QZ_SETUP_LANG_TRANSFORM", L"C:\\t\\fr.mst"}}, L""},
        {"a list of transforms",
         {{name, L"Agent"}, {L"QZ_SETUP_LANG_TRANSFORM", L"a.mst;:embedded;b.mst"}},
         L""},
        {"a property after a quote",
         {{name, L"Agent"}, {L"QZ_SETUP_LANG_TRANSFORM", L"C:\\t\\fr.mst\" INJECTED=\"yes"}},
         L"Parameter QZ_SETUP_LANG_TRANSFORM contains unexpected value C:\\t\\fr.mst\" INJECTED=\"yes."},
        {"quotes around the path",
         {{name, L"Agent"}, {L"QZ_SETUP_LANG_TRANSFORM", L"\"fr.mst\""}},
         L"Parameter QZ_SETUP_LANG_TRANSFORM contains unexpected value \"fr.mst\"."},
        {"the wait is refused first",
         {{name, L"Agent"}, {L"QZ_SETUP_BUSY_WAIT", L"0"}, {L"QZ_SETUP_LANG_TRANSFORM", L"\""}},
         L"Parameter QZ_SETUP_BUSY_WAIT contains unexpected value 0."},
        {"a quote in the folder of the transforms is not looked at here",
         {{name, L"Agent"}, {L"QZ_SETUP_LANG_TRANSFORM_DIR", L"\"C:\\t\\\""}},
         L""},
        {"not in help runs",
         {{name, L"Agent"}, {L"QZ_SETUP_HELP", L"1"}, {L"QZ_SETUP_LANG_TRANSFORM", L"\""}},
         L""},
    };
    ExpectValidation(cases);
}

// The patches go into PATCH="..." like the transform; and PATCH itself is
// refused beside them, since it would replace their list.
TEST_F(ValidationTest, PatchesWithAQuoteOrBesidePatchAreRefused) {
    const std::wstring name = L"QZ_SETUP_PACKAGE_NAME";
    const std::wstring besidePatch = L"PATCH cannot be given when QZ_SETUP_PATCHES names the patches: give "
                                     L"the patches in QZ_SETUP_PATCHES "
                                     L"alone.";
    const ValidationCase cases[] = {
        {"every patch", {{name, L"Agent"}, {L"QZ_SETUP_PATCHES", L"*"}}, L""},
        {"a list", {{name, L"Agent"}, {L"QZ_SETUP_PATCHES", L"a.msp;C:\\p\\b.msp"}}, L""},
        {"PATCH alone passes through", {{name, L"Agent"}, {L"PATCH", L"C:\\p\\b.msp"}}, L""},
        {"a property after a quote",
         {{name, L"Agent"}, {L"QZ_SETUP_PATCHES", L"a.msp\" INJECTED=\"yes"}},
         L"Parameter QZ_SETUP_PATCHES contains unexpected value a.msp\" INJECTED=\"yes."},
        {"PATCH beside", {{name, L"Agent"}, {L"QZ_SETUP_PATCHES", L"*"}, {L"PATCH", L"b.msp"}}, besidePatch},
        {"PATCH beside an empty list",
         {{name, L"Agent"}, {L"QZ_SETUP_PATCHES", L""}, {L"PATCH", L"b.msp"}},
         besidePatch},
        {"another letter case is another property",
         {{name, L"Agent"}, {L"QZ_SETUP_PATCHES", L"*"}, {L"Patch", L"b.msp"}},
         L""},
    };
    ExpectValidation(cases);
}

} // namespace
