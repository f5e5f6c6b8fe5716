// Exit codes for deployment tools: every way a run ends, once with the
// default exit codes and once with QZ_SETUP_EXIT_CODE=INSTALLER, which gives
// the Windows Installer code that msiexec would give.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bootstrapper/run_sequence.h"
#include "system/errors.h"
#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"
#include "system/win_owners.h"

using namespace qztest;

namespace {

TEST(InstallerExitCodeTest, EveryEndHasItsInstallerCode) {
    const struct {
        const char* name;
        RunEnd end;
        unsigned installerResult;
        int exitCode;
    } cases[] = {
        {"command line refused", RunEnd::CommandLineRefused, 0, 30665},
        {"settings refused", RunEnd::SettingsRefused, 0, 1603},
        {"package not found", RunEnd::PackageNotFound, 0, 1619},
        {"language dialog cancelled", RunEnd::UserCancelled, 0, 1602},
        {"a file to install open for writing elsewhere", RunEnd::FileInUse, 0, 1618},
        {"a transform that cannot be used", RunEnd::TransformFailed, 0, 1624},
        {"help shown", RunEnd::HelpShown, 0, 0},
        {"installed", RunEnd::InstallerCalled, 0, 0},
        {"installed, reboot required", RunEnd::InstallerCalled, 3010, 3010},
        {"installed, reboot started", RunEnd::InstallerCalled, 1641, 1641},
        {"installer failed", RunEnd::InstallerCalled, 1603, 1603},
        {"installer busy", RunEnd::InstallerCalled, 1618, 1618},
        {"user cancelled the installer", RunEnd::InstallerCalled, 1602, 1602},
        {"an exception", RunEnd::Failed, 0, 1603},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.exitCode, InstallerExitCode(c.end, c.installerResult));
    }
}

TEST(InstallerExitCodeTest, OnlyTheExactValueAsksForInstallerCodes) {
    EXPECT_TRUE(WantsInstallerExitCodes({{L"QZ_SETUP_EXIT_CODE", L"INSTALLER"}}));
    for (const wchar_t* value : {L"installer", L"INSTALLER ", L"", L"1"})
        EXPECT_FALSE(WantsInstallerExitCodes({{L"QZ_SETUP_EXIT_CODE", value}})) << ToUtf8(value);
    EXPECT_FALSE(WantsInstallerExitCodes({}));
    EXPECT_FALSE(WantsInstallerExitCodes({{L"qz_setup_exit_code", L"INSTALLER"}}));
}

TEST(InstallerExitCodeTest, ACancelledChoiceIsAUserExitAndAFileInUseAPassingCause) {
    const struct {
        const char* name;
        std::function<void()> raise;
        RunEnd end;
    } cases[] = {
        {"user exit", [] { throw WinException(ERROR_INSTALL_USEREXIT); }, RunEnd::UserCancelled},
        {"a file open for writing elsewhere", [] { throw FileHoldFailure(ERROR_SHARING_VIOLATION, L"x"); },
         RunEnd::FileInUse},
        {"a file locked elsewhere", [] { throw FileHoldFailure(ERROR_LOCK_VIOLATION, L"x"); },
         RunEnd::FileInUse},
        {"a file that went missing before its hold",
         [] { throw FileHoldFailure(ERROR_FILE_NOT_FOUND, L"x"); }, RunEnd::Failed},
        {"a transform that cannot be used",
         [] { throw TransformFailure(ERROR_INSTALL_TRANSFORM_FAILURE, L"x"); }, RunEnd::TransformFailed},
        {"a file of the transform folder that is no transform",
         [] { throw TransformFailure(ERROR_FUNCTION_FAILED, L"x"); }, RunEnd::TransformFailed},
        {"another error", [] { throw WinException(ERROR_ACCESS_DENIED); }, RunEnd::Failed},
        {"a standard exception", [] { throw std::bad_alloc(); }, RunEnd::Failed},
        {"anything else", [] { throw 1602; }, RunEnd::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstringbuf buffer;
        VariableMap variables;
        RunResult result{L"", 0, buffer, variables, RunEnd::HelpShown};
        try {
            c.raise();
        } catch (...) {
            HandleRunException(result);
        }
        EXPECT_EQ(c.end, result.end);
    }
}

// One way a run can end: how the folder is set up, the arguments, and the
// exit code with the default codes and with installer codes.
struct Ending {
    const char* name;
    std::function<void(const TempDir&)> prepare; // may be empty
    std::vector<std::wstring> arguments;
    DWORD defaultExitCode;
    DWORD installerExitCode;
    std::string exitFileStart; // what the exit file begins with; empty: not checked
    bool cancelLanguage = false;
    bool holdInstallerMutex = false;
};

class DeploymentExitCodes : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& code : m_productCodes)
            RemoveProduct(code);
    }

    std::function<void(const TempDir&)> Package(unsigned language = 1033, int failWithError = 0) {
        return [this, language, failWithError](const TempDir& dir) {
            PackageSpec desc;
            desc.productName = L"QZ Deployment Agent";
            desc.installFolder = L"QZ Deployment Agent";
            desc.productCode = NewGuid();
            desc.language = language;
            if (failWithError) {
                desc.errors = {{failWithError, L"Error [1]. Widget failure: [2] (code [3])"}};
                desc.failWithError = failWithError;
                desc.failArguments = {L"disk on fire", L"42"};
            }
            BuildPackage(desc, dir / L"package.msi");
            m_productCodes.push_back(desc.productCode);
        };
    }

    // Runs the ending in a fresh folder, with or without installer codes.
    void Check(const Ending& ending, bool installerCodes) {
        SCOPED_TRACE(std::string(ending.name) + (installerCodes ? ", INSTALLER" : ", default codes"));
        TempDir dir;
        InstallSetupExe(dir.path());
        if (ending.prepare)
            ending.prepare(dir);
        std::vector<std::wstring> arguments = ending.arguments;
        if (installerCodes)
            arguments.push_back(L"QZ_SETUP_EXIT_CODE=INSTALLER");
        SetupOptions options;
        if (ending.cancelLanguage)
            options.onLanguageDialog = [](HWND dialog) { PressCancel(dialog); };
        std::optional<HeldInstallerMutex> mutex;
        if (ending.holdInstallerMutex) {
            mutex.emplace();
            ASSERT_TRUE(mutex->held());
        }
        const SetupRun run = RunSetup(dir.path(), arguments, options);
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(installerCodes ? ending.installerExitCode : ending.defaultExitCode, run.exitCode);
        if (!ending.exitFileStart.empty()) {
            // The exit file is the same whichever exit codes are asked for.
            const std::string exitFile = ReadFileBytes(dir / L"exit.txt");
            EXPECT_EQ(ending.exitFileStart, exitFile.substr(0, ending.exitFileStart.size())) << exitFile;
        }
        for (const auto& code : m_productCodes)
            RemoveProduct(code);
    }

    std::vector<std::wstring> m_productCodes;
};

TEST_F(DeploymentExitCodes, EachEndingGivesItsCode) {
    const std::vector<std::wstring> unattended = {L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"};
    auto with = [&](std::vector<std::wstring> arguments) {
        arguments.insert(arguments.end(), unattended.begin(), unattended.end());
        return arguments;
    };
    // Folders held open, as another program may, until the endings are checked.
    std::vector<UniqueFileHandle> holders;
    const Ending endings[] = {
        {"success", Package(), with({L"/f", L"package.msi"}), 0, 0, "0\r\n0\r\n"},
        {"the installer's error captured from the package", Package(1033, 25000),
         with({L"/f", L"package.msi"}), 1, 1603,
         "25000\r\n25000\r\nError 25000. Widget failure: disk on fire (code 42)"},
        // A failure never reads as success, whatever number the message had:
        // the installer's value comes first, the number second.
        {"a failure whose message has the number 3010", Package(1033, 3010), with({L"/f", L"package.msi"}), 1,
         1603, "1603\r\n3010\r\nError 3010. Widget failure: disk on fire (code 42)"},
        {"a failure whose message has the number 1641", Package(1033, 1641), with({L"/f", L"package.msi"}), 1,
         1603, "1603\r\n1641\r\nError 1641. Widget failure: disk on fire (code 42)"},
        {"no package matches the name", Package(), with({L"/p", L"Nope"}), 1, 1619, "30665\r\n30665\r\n"},
        {"the package file does not exist", nullptr, with({L"/f", L"missing.msi"}), 1, 1619, "30665\r\n"},
        {"help", Package(), with({L"/f", L"package.msi", L"/h"}), 0, 0, "0\r\n0\r\n"},
        {"a refused mode",
         Package(),
         {L"/f", L"package.msi", L"QZ_SETUP_MODE=bogus", L"/e", L"exit.txt"},
         1,
         1603,
         "30665\r\n"},
        {"a refused control file",
         [](const TempDir& dir) { WriteFileBytes(dir / L"qz-setup.dat", "no equals sign\n"); },
         with({L"/p", L"Agent"}), 1, 1603, "1\r\n1\r\n"},
        {"a missing response file", Package(), with({L"/f", L"package.msi", L"/r", L"gone.rsp"}), 2, 1603,
         "2\r\n2\r\n"},
        {"an exception: the log's folder is held by another program",
         [this, &holders](const TempDir& dir) {
             Package()(dir);
             holders.push_back(HeldForDeletion(dir / L"held"));
         },
         with({L"/f", L"package.msi", L"/l", L"held\\run.log"}), 1, 1603, "1\r\n1\r\n"},
        {"the installer stays busy", Package(), with({L"/f", L"package.msi", L"QZ_SETUP_BUSY_WAIT=1"}), 1,
         1618, "1618\r\n1618\r\n", false, true},
    };
    for (const Ending& ending : endings) {
        Check(ending, false);
        Check(ending, true);
    }
}

TEST_F(DeploymentExitCodes, ACancelledLanguageDialogIsAUserExit) {
    // A transform for the user's language and a product in another one: the
    // attended installation asks for the language.
    const LANGID user = GetUserDefaultLangID();
    const Ending cancelled{"the language dialog cancelled",
                           [this, user](const TempDir& dir) {
                               Package(PRIMARYLANGID(user) == LANG_GERMAN ? 1033 : 1031)(dir);
                               WriteLanguageTransform(dir / L"user.mst", user);
                           },
                           {L"/f", L"package.msi", L"/e", L"exit.txt", L"QZ_SETUP_MODE=INSTALL"},
                           1,
                           1602,
                           "1602\r\n1602\r\n",
                           true};
    Check(cancelled, false);
    Check(cancelled, true);
}

TEST_F(DeploymentExitCodes, AnyOtherValueIsRefusedWithTheDefaultCodes) {
    TempDir dir;
    InstallSetupExe(dir.path());
    Package()(dir);
    // Attended, so that the refusal is shown.
    const SetupRun run = RunSetup(dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_EXIT_CODE=installer"});
    EXPECT_EQ(1u, run.exitCode);
    ASSERT_EQ(1u, run.dialogs.size());
    const std::wstring expected =
        L"QZSETUP:BOOTSTRAP:ERR::Parameter QZ_SETUP_EXIT_CODE contains unexpected value installer.\r\n"
        L"QZSETUP:BOOTSTRAP:ERR:30665:";
    EXPECT_EQ(expected, run.dialogs[0].substr(0, expected.size())) << ToUtf8(run.dialogs[0]);
    EXPECT_FALSE(IsProductRegistered(m_productCodes.back()));
}

} // namespace
