// Plan runs (QZ_SETUP_PLAN) of the real qz-setup.exe: they write what the run
// would do, change nothing, show nothing, and end with the exit code the run
// would end with.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/module_texts.h"
#include "support/package_builder.h"
#include "support/platform_deviations.h"
#include "support/plan_reader.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"
#include "system/win_owners.h"

using namespace qztest;

namespace {

bool IsPlanOrExitFile(const std::wstring& path) {
    return path == L"plan.json" || path == L"exit.txt";
}

class RegisteredProduct {
public:
    explicit RegisteredProduct(std::wstring productCode) : m_productCode(std::move(productCode)) {}
    ~RegisteredProduct() { RemoveProduct(m_productCode); }
    RegisteredProduct(const RegisteredProduct&) = delete;
    RegisteredProduct& operator=(const RegisteredProduct&) = delete;

private:
    std::wstring m_productCode;
};

// A folder with qz-setup.exe and a package for this machine; the runs get a
// TEMP (and TMP) of their own, which must stay empty in a plan run.
class PlanRun : public ::testing::Test {
protected:
    void SetUp() override {
        InstallSetupExe(m_dir.path());
        m_package.productName = L"QZ Plan Agent";
        m_package.productCode = NewGuid();
        m_package.platform = NativePlatform();
        m_package.installFolder = L"QZ Plan " + m_package.productCode.substr(1, 8);
        // A transform of the user's language in a package of another one:
        // an attended first installation would ask.
        m_package.language = PRIMARYLANGID(GetUserDefaultLangID()) == LANG_GERMAN ? 1033 : 1031;
        BuildPackage(m_package, m_dir / L"agent.msi");
        WriteLanguageTransform(m_dir / L"user.mst", GetUserDefaultLangID());
        CreateDirectoryW((m_dir / L"tmp").c_str(), nullptr);
        m_options.process.setEnv[L"TEMP"] = m_dir / L"tmp";
        m_options.process.setEnv[L"TMP"] = m_dir / L"tmp";
        m_options.onLanguageDialog = [this](HWND dialog) {
            ++m_languageDialogs;
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        };
    }
    void TearDown() override { RemoveProduct(m_package.productCode); }

    SetupRun Run(const std::vector<std::wstring>& arguments) {
        // Beside the program only the plan and the exit file may come; in
        // the run's TEMP nothing, and nothing in the test's TEMP either.
        return RunSetupLeavingNothing(m_dir.path(), arguments, m_options, IsPlanOrExitFile);
    }

    // The plan of the last run, every field of it documented in the manual.
    PlanJson Plan() const { return Documented(ReadPlan(m_dir / L"plan.json")); }
    static PlanJson Documented(PlanJson plan) {
        for (const std::string& field : UndocumentedPlanFields(plan))
            ADD_FAILURE() << "the manual does not document the plan's field " << field;
        return plan;
    }

    TempDir m_dir;
    PackageSpec m_package;
    SetupOptions m_options;
    int m_languageDialogs = 0;
};

TEST_F(PlanRun, InstallsNothingShowsNothingAndSaysItWouldCallTheInstaller) {
    const struct {
        const char* what;
        std::vector<std::wstring> arguments;
        bool installedBefore;
        bool asks; // the run would show the language dialog
    } cases[] = {
        {"attended installation",
         {L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/l", L"setup.log"},
         false,
         true},
        {"unattended, with an exit file",
         {L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/e", L"exit.txt", L"/v", L"/t"},
         false,
         false},
        {"removal of an installed product",
         {L"/f", L"agent.msi", L"QZ_SETUP_PLAN=plan.json", L"QZ_SETUP_MODE=UNATTENDED_UNINSTALL", L"/e",
          L"exit.txt"},
         true,
         false},
        {"repair of an installed product", {L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json"}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.installedBefore) {
            MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
            ASSERT_EQ(ERROR_SUCCESS,
                      MsiInstallProductW((m_dir / L"agent.msi").c_str(), L"REBOOT=ReallySuppress"));
        }
        DeleteFileW((m_dir / L"plan.json").c_str());
        DeleteFileW((m_dir / L"exit.txt").c_str());

        const SetupRun run = Run(c.arguments);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());
        EXPECT_EQ(0, m_languageDialogs);
        EXPECT_EQ(c.installedBefore, IsProductRegistered(m_package.productCode));
        EXPECT_FALSE(PathExists(m_dir / L"setup.log"));

        const PlanJson plan = Plan();
        // The attended first installation would have asked: the offer is written down.
        EXPECT_EQ(c.asks ? "dialog" : "no choice", plan["language"]["decision"]);
        if (c.asks) {
            EXPECT_EQ(PlanText(m_dir / L"user.mst"), plan["language"]["dialog"]["items"][0]["transform"]);
            EXPECT_EQ(PlanText(m_dir / L"user.mst"),
                      (*PlanSetting(plan, "QZ_SETUP_LANG_TRANSFORM"))["value"]);
        }
        for (const char* part : {"program", "machine", "settings", "language", "moment", "log", "end"})
            EXPECT_TRUE(plan.contains(part)) << part;
        EXPECT_EQ("would call the installer", plan["end"]["outcome"]);
        EXPECT_EQ(0, plan["end"]["exitCode"]);
        EXPECT_EQ(0, plan["end"]["installerExitCode"]);
        ASSERT_NE(nullptr, PlanSetting(plan, "QZ_SETUP_PACKAGE_FILE"));
        EXPECT_EQ(PlanText(m_dir / L"agent.msi"), (*PlanSetting(plan, "QZ_SETUP_PACKAGE_FILE"))["value"]);
        // The program is the one this test program was built with.
        EXPECT_EQ(sizeof(void*) == 8 ? "64-bit" : "32-bit", plan["program"]["configuration"]);

        if (PathExists(m_dir / L"exit.txt")) {
            const ExitFileParts exit = ReadExitFile(m_dir / L"exit.txt");
            EXPECT_EQ("0", exit.normalised);
            EXPECT_EQ("0", exit.code);
            EXPECT_EQ(ToUtf8(Message(IDS_PLAN_WRITTEN, m_dir / L"plan.json")), exit.text);
        }
        RemoveProduct(m_package.productCode);
    }
}

// Where each setting came from: the three sources in their order, what the
// environment expansion and the derivation changed, and what was passed over.
TEST_F(PlanRun, EverySettingSaysWhereItCameFrom) {
    WriteFileBytes(m_dir / L"qz-setup.dat", "QZ_SETUP_PACKAGE_NAME=Plan Agent\r\n"
                                            "INSTALLDIR=from control file\r\n"
                                            "COMPANY=from control file\r\n"
                                            "DB_PASSWORD=control secret\r\n");
    WriteFileBytes(m_dir / L"answers.rsp", "COMPANY=from response file\r\n"
                                           "ANSWER=42\r\n"
                                           "DB_PASSWORD=response secret\r\n"
                                           "QZ_SETUP_EXIT_FILE=exit.txt\r\n");
    m_options.process.setEnv[L"QZ_PLAN_FOLDER"] = L"plan-folder";
    const SetupRun run =
        Run({L"/r", L"answers.rsp", L"QZ_SETUP_PLAN=plan.json", L"/l", L"%QZ_PLAN_FOLDER%\\x.log",
             L"INSTALLDIR=from command line", L"Admin_Password=command secret"});
    EXPECT_EQ(0u, run.exitCode);
    const PlanJson plan = Plan();

    const struct {
        const char* name;
        std::string value;
        const char* origin;
        const char* givenBy; // null: the origin gave it
        std::string givenAs;
        std::vector<std::pair<std::string, std::string>> passedOver;
        bool property;
    } cases[] = {
        {"INSTALLDIR",
         "from command line",
         "command line",
         nullptr,
         "",
         {{"control file", "from control file"}},
         true},
        {"COMPANY",
         "from control file",
         "control file",
         nullptr,
         "",
         {{"response file", "from response file"}},
         true},
        {"ANSWER", "42", "response file", nullptr, "", {}, true},
        {"QZ_SETUP_PACKAGE_NAME", "Plan Agent", "control file", nullptr, "", {}, false},
        {"QZ_SETUP_EXIT_FILE", "exit.txt", "response file", nullptr, "", {}, false},
        {"QZ_SETUP_LOG_FILE",
         "plan-folder\\x.log",
         "environment expansion",
         "command line",
         "%QZ_PLAN_FOLDER%\\x.log",
         {},
         false},
        {"QZ_SETUP_RESPONSE_FILE",
         PlanText(m_dir / L"answers.rsp"),
         "derived",
         "command line",
         "answers.rsp",
         {},
         false},
        {"QZ_SETUP_PACKAGE_FILE", PlanText(m_dir / L"agent.msi"), "derived", nullptr, "", {}, false},
        {"QZ_SETUP_PACKAGE_DIR", PlanText(m_dir.path()), "default", nullptr, "", {}, false},
        {"QZ_SETUP_MODE", "UNATTENDED", "default", nullptr, "", {}, false},
        {"QZ_SUPPRESS_REBOOT", "1", "default", nullptr, "", {}, false},
        // Values of names that hold passwords are never shown, wherever they came from.
        {"Admin_Password", "********", "command line", nullptr, "", {}, true},
        {"DB_PASSWORD", "********", "control file", nullptr, "", {{"response file", "********"}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PlanJson* setting = PlanSetting(plan, c.name);
        ASSERT_NE(nullptr, setting);
        EXPECT_EQ(c.value, (*setting)["value"]);
        EXPECT_EQ(c.origin, (*setting)["origin"]);
        if (c.givenBy) {
            EXPECT_EQ(c.givenBy, setting->value("givenBy", std::string()));
            EXPECT_EQ(c.givenAs, setting->value("givenAs", std::string()));
        } else {
            EXPECT_FALSE(setting->contains("givenBy"));
        }
        std::vector<std::pair<std::string, std::string>> passed;
        if (setting->contains("passedOver"))
            for (const auto& other : (*setting)["passedOver"])
                passed.emplace_back(other["by"], other["value"]);
        EXPECT_EQ(c.passedOver, passed);
        EXPECT_EQ(c.property, (*setting)["installerProperty"]);
    }
    EXPECT_EQ(std::string::npos, ReadFileBytes(m_dir / L"plan.json").find("secret"));
}

// The properties a package lists in MsiHiddenProperties are masked wherever
// the plan would show their values (the settings with what was passed over,
// the property string, the msiexec command line); a name that differs only in
// letter case is another property, shown as it is.
TEST_F(PlanRun, ThePackagesHiddenPropertiesAreMaskedEverywhere) {
    PackageSpec hidden = m_package;
    hidden.productCode = NewGuid();
    hidden.properties = {{L"MsiHiddenProperties", L"SERVICE_KEY; LICENSE_CODE"}};
    BuildPackage(hidden, m_dir / L"hidden.msi");
    WriteFileBytes(m_dir / L"answers.rsp", "LICENSE_CODE=hidden-license\r\nSERVICE_KEY=hidden-key-1\r\n");
    const SetupRun run = Run({L"/f", L"hidden.msi", L"/r", L"answers.rsp", L"QZ_SETUP_PLAN=plan.json",
                              L"SERVICE_KEY=hidden-key-2", L"service_key=shown"});
    EXPECT_EQ(0u, run.exitCode);
    const PlanJson plan = Plan();

    EXPECT_EQ(PlanJson::array({"SERVICE_KEY", "LICENSE_CODE"}),
              plan["packages"]["chosen"]["hiddenProperties"]);
    ASSERT_NE(nullptr, PlanSetting(plan, "SERVICE_KEY"));
    EXPECT_EQ("********", (*PlanSetting(plan, "SERVICE_KEY"))["value"]);
    EXPECT_EQ("********", (*PlanSetting(plan, "SERVICE_KEY"))["passedOver"][0]["value"]);
    EXPECT_EQ("********", (*PlanSetting(plan, "LICENSE_CODE"))["value"]);
    EXPECT_EQ("shown", (*PlanSetting(plan, "service_key"))["value"]);
    const std::string properties = plan["operation"]["properties"];
    EXPECT_NE(std::string::npos, properties.find(" LICENSE_CODE=\"********\""));
    EXPECT_NE(std::string::npos, properties.find(" SERVICE_KEY=\"********\""));
    EXPECT_NE(std::string::npos, plan["operation"]["msiexec"].get<std::string>().find(properties));
    EXPECT_EQ(std::string::npos, ReadFileBytes(m_dir / L"plan.json").find("hidden-"));
}

// A run that would end before the installer: the plan says how, and the plan
// run ends with the exit code that run would end with.
TEST_F(PlanRun, AnEarlyEndIsPlannedWithItsMessageAndExitCodes) {
    const struct {
        const char* what;
        std::vector<std::wstring> arguments;
        const char* controlFile; // null: none
        const char* outcome;
        int message;
        int resultCode;
        DWORD exitCode;
        DWORD installerExitCode;
    } cases[] = {
        {"no package matches",
         {L"/p", L"No Such Agent"},
         nullptr,
         "would end before the installer",
         130,
         30665,
         1,
         1619},
        {"a mode in lower case",
         {L"/p", L"Plan Agent", L"QZ_SETUP_MODE=unattended"},
         nullptr,
         "would end before the installer",
         127,
         30665,
         1,
         1603},
        {"a missing response file",
         {L"/p", L"Plan Agent", L"/r", L"missing.rsp"},
         nullptr,
         "would end before the installer",
         118,
         2,
         2,
         1603},
        {"a refused control file",
         {L"/p", L"Plan Agent"},
         "no equals sign\r\n",
         "would end before the installer",
         117,
         1,
         1,
         1603},
        {"help", {L"/p", L"Plan Agent", L"/h"}, nullptr, "would show help", 0, 0, 0, 0},
        // The log is looked at as the run would make it.
        {"a log in a folder that another program holds for deletion",
         {L"/p", L"Plan Agent", L"/l", L"held\\setup.log"},
         nullptr,
         "would end before the installer",
         112,
         1,
         1,
         1603},
        {"a log path through a file",
         {L"/p", L"Plan Agent", L"/l", L"agent.msi\\logs\\setup.log"},
         nullptr,
         "would end before the installer",
         0,
         3,
         1,
         1603},
    };
    // Open with leave to delete it: no run can hold the folder.
    const UniqueFileHandle holder = HeldForDeletion(m_dir / L"held");
    ASSERT_TRUE(holder.valid());
    for (const auto& c : cases) {
        for (const bool installerCodes : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (installerCodes ? ", installer exit codes" : ""));
            DeleteFileW((m_dir / L"qz-setup.dat").c_str());
            if (c.controlFile)
                WriteFileBytes(m_dir / L"qz-setup.dat", c.controlFile);
            DeleteFileW((m_dir / L"plan.json").c_str());
            DeleteFileW((m_dir / L"exit.txt").c_str());
            std::vector<std::wstring> arguments = c.arguments;
            arguments.insert(arguments.end(), {L"QZ_SETUP_PLAN=plan.json", L"/e", L"exit.txt"});
            if (installerCodes)
                arguments.push_back(L"QZ_SETUP_EXIT_CODE=INSTALLER");

            const SetupRun run = Run(arguments);
            EXPECT_EQ(installerCodes ? c.installerExitCode : c.exitCode, run.exitCode);
            EXPECT_TRUE(run.dialogs.empty());
            const PlanJson plan = Plan();
            const PlanJson& end = plan["end"];
            EXPECT_EQ(c.outcome, end["outcome"]);
            EXPECT_EQ(c.resultCode, end["resultCode"]);
            EXPECT_EQ(c.exitCode, end["exitCode"]);
            EXPECT_EQ(c.installerExitCode, end["installerExitCode"]);
            const std::string resultText = end["resultText"];
            EXPECT_TRUE(resultText.empty() || (resultText.back() != '\n' && resultText.back() != '\r'))
                << resultText;
            if (c.message != 0) {
                EXPECT_EQ(c.message, end["message"]["id"]);
                // The message is the one the run logged (or, for an early end,
                // the result text): the plan's log holds it.
                const std::string text = end["message"]["text"];
                EXPECT_FALSE(text.empty());
                bool logged = end["resultText"] == text;
                for (const auto& line : plan["log"])
                    logged = logged || line.get<std::string>().find(text) != std::string::npos;
                EXPECT_TRUE(logged) << text;
            } else {
                EXPECT_FALSE(end.contains("message"));
            }
            // The exit file holds the run's result as it would.
            const ExitFileParts exit = ReadExitFile(m_dir / L"exit.txt");
            EXPECT_EQ(std::to_string(c.resultCode), exit.code);
        }
    }
    DeleteFileW((m_dir / L"qz-setup.dat").c_str());
}

// A plan that cannot be written is no success: the run ends with the system's
// error and message 152, in the exit file and, for an attended user, in the viewer.
TEST_F(PlanRun, APlanThatCannotBeWrittenIsAFailure) {
    const std::wstring plan = m_dir / L"no-such-folder\\plan.json";
    // The message up to its line end: the system's text follows.
    std::wstring said = Message(IDS_PLAN_NOT_WRITTEN, plan);
    said = said.substr(0, said.find(L'\n'));
    {
        SCOPED_TRACE("unattended");
        const SetupRun run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=" + plan, L"/e", L"exit.txt",
                                  L"QZ_SETUP_EXIT_CODE=INSTALLER"});
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());
        const ExitFileParts exit = ReadExitFile(m_dir / L"exit.txt");
        EXPECT_EQ("3", exit.normalised);
        EXPECT_EQ("3", exit.code);
        EXPECT_EQ(0u, exit.text.find(ToUtf8(said))) << exit.text;
    }
    {
        SCOPED_TRACE("attended");
        const SetupRun run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=" + plan, L"QZ_SETUP_MODE=INSTALL"});
        EXPECT_EQ(1u, run.exitCode);
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_NE(std::wstring::npos, run.dialogs[0].find(L"QZSETUP:BOOTSTRAP:ERR:3:" + said))
            << ToUtf8(run.dialogs[0]);
        EXPECT_EQ(0, m_languageDialogs);
    }
    EXPECT_FALSE(IsProductRegistered(m_package.productCode));
}

// The plan is a file the run makes itself: a hard link planted at its name
// leads nowhere (the file it points to stays as it was; the plan is a new
// file), and a name another program holds open is not written into either:
// such a plan cannot be written, as an exit file could not.
TEST_F(PlanRun, APlanIsAFileOfTheRunsOwn) {
    TempDir elsewhere;
    const std::string protectedBytes = "a file the user who planted the link may not write\r\n";
    WriteFileBytes(elsewhere / L"protected.txt", protectedBytes);
    ASSERT_TRUE(
        CreateHardLinkW((m_dir / L"plan.json").c_str(), (elsewhere / L"protected.txt").c_str(), nullptr));
    SetupRun run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/e", L"exit.txt"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(protectedBytes, ReadFileBytes(elsewhere / L"protected.txt"));
    EXPECT_EQ("would call the installer", Plan()["end"]["outcome"]);

    // Held open by another program, which lets others read and write it but
    // not remove its name.
    const UniqueFileHandle held(CreateFileW((m_dir / L"plan.json").c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.valid());
    const std::string before = ReadFileBytes(m_dir / L"plan.json");
    run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/e", L"exit.txt"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(before, ReadFileBytes(m_dir / L"plan.json"));
    std::wstring said = Message(IDS_PLAN_NOT_WRITTEN, m_dir / L"plan.json");
    said = said.substr(0, said.find(L'\n'));
    EXPECT_EQ(0u, ReadExitFile(m_dir / L"exit.txt").text.find(ToUtf8(said)));
}

// Every package a search by name looked at, in order, with what became of it;
// the search stops at the one it takes, and at one it cannot read, which ends
// the run as it would end the real one. The order a folder is listed in is
// the file system's: a folder without the match shows every other verdict
// whatever that order is.
TEST_F(PlanRun, ThePackagesLookedAtAndTheirVerdicts) {
    PackageSpec foreign = m_package;
    foreign.productCode = NewGuid();
    foreign.platform = MachineIsX64() ? L"Intel" : L"x64";
    PackageSpec other = m_package;
    other.productCode = NewGuid();
    other.productName = L"QZ Something Else";
    TempDir unmatched;
    InstallSetupExe(unmatched.path());
    for (const std::wstring& dir : {m_dir.path(), unmatched.path()}) {
        BuildPackage(foreign, dir + L"foreign.msi");
        BuildPackage(other, dir + L"other.msi");
    }
    const auto verdicts = [&](const TempDir& dir) {
        return std::map<std::string, std::pair<std::string, std::string>>{
            {PlanText(dir / L"agent.msi"), {"chosen", PlanText(NativePlatform())}},
            {PlanText(dir / L"foreign.msi"), {"processor does not match", PlanText(foreign.platform)}},
            {PlanText(dir / L"other.msi"), {"name does not match", ""}},
        };
    };
    const auto checkCandidates =
        [](const PlanJson& candidates,
           const std::map<std::string, std::pair<std::string, std::string>>& expected) {
            for (const auto& candidate : candidates) {
                const auto verdict = expected.find(candidate["file"]);
                ASSERT_NE(expected.end(), verdict) << candidate.dump();
                EXPECT_EQ(verdict->second.first, candidate["verdict"]) << candidate.dump();
                if (!verdict->second.second.empty()) {
                    EXPECT_EQ(verdict->second.second, candidate["platform"]) << candidate.dump();
                }
            }
        };

    const SetupRun run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/e", L"exit.txt"});
    EXPECT_EQ(0u, run.exitCode);
    PlanJson plan = Plan();
    const PlanJson& candidates = plan["packages"]["candidates"];
    ASSERT_FALSE(candidates.empty());
    checkCandidates(candidates, verdicts(m_dir));
    EXPECT_EQ("chosen", candidates.back()["verdict"]) << "the search stops at the package it takes";
    EXPECT_EQ(PlanText(m_dir / L"agent.msi"), plan["packages"]["chosen"]["file"]);

    // Without the match every package is looked at, each with its verdict.
    const SetupRun none = RunSetup(
        unmatched.path(), {L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/e", L"exit.txt"}, m_options);
    EXPECT_EQ(1u, none.exitCode);
    plan = Documented(ReadPlan(unmatched / L"plan.json"));
    ASSERT_EQ(2u, plan["packages"]["candidates"].size()) << plan["packages"].dump();
    checkCandidates(plan["packages"]["candidates"], verdicts(unmatched));
    EXPECT_NE(plan["packages"]["candidates"][0]["file"], plan["packages"]["candidates"][1]["file"]);
    EXPECT_EQ("would end before the installer", plan["end"]["outcome"]);

    // A file that is no package: the search cannot read it, and the run ends there.
    TempDir broken;
    InstallSetupExe(broken.path());
    WriteFileBytes(broken / L"broken.msi", "not a package\r\n");
    const SetupRun ended = RunSetup(
        broken.path(), {L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/e", L"exit.txt"}, m_options);
    EXPECT_EQ(1u, ended.exitCode);
    plan = Documented(ReadPlan(broken / L"plan.json"));
    ASSERT_EQ(1u, plan["packages"]["candidates"].size());
    const PlanJson& unreadable = plan["packages"]["candidates"][0];
    EXPECT_EQ("not readable", unreadable["verdict"]);
    const DWORD notAPackage = PlatformValue(Deviation::NonPackageOpenError);
    EXPECT_EQ(static_cast<int>(notAPackage), unreadable["error"]["code"])
        << Describe(Deviation::NonPackageOpenError);
    // The installer's text for it, without the line end.
    std::wstring text = SystemText(notAPackage);
    text = text.substr(0, text.find_last_not_of(L"\r\n") + 1);
    EXPECT_EQ(PlanText(text), unreadable["error"]["text"]);
    EXPECT_EQ("would end before the installer", plan["end"]["outcome"]);
    EXPECT_EQ(static_cast<int>(notAPackage), plan["end"]["resultCode"]);
}

// The plan names the log the run would use at that moment: the first free
// numbered name when the one asked for is held, and says so where only a
// random name would do.
TEST_F(PlanRun, ThePlanNamesTheLogTheRunWouldUse) {
    const std::wstring log = m_dir / L"setup.log";
    WriteFileBytes(log, "held");
    const UniqueFileHandle other(CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other.valid());
    WriteFileBytes(m_dir / L"setup-1.log", "an earlier run's");
    {
        SCOPED_TRACE("a numbered name");
        const SetupRun run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/l", log});
        EXPECT_EQ(0u, run.exitCode);
        const PlanJson plan = Plan();
        const std::string expected = ToUtf8(m_dir / L"setup-2.log");
        EXPECT_EQ(expected, plan["operation"]["logFile"]);
        EXPECT_NE(std::string::npos, plan["operation"]["msiexec"].get<std::string>().find(expected));
        EXPECT_FALSE(plan["operation"].contains("logFileWhy"));
    }
    std::vector<UniqueFileHandle> held;
    for (int n = 1; n <= 99; ++n) {
        const std::wstring numbered = m_dir / (L"setup-" + std::to_wstring(n) + L".log");
        WriteFileBytes(numbered, "held");
        held.emplace_back(CreateFileW(numbered.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    {
        SCOPED_TRACE("only a random name would do");
        const SetupRun run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_PLAN=plan.json", L"/l", log});
        EXPECT_EQ(0u, run.exitCode);
        const PlanJson plan = Plan();
        EXPECT_EQ(ToUtf8(m_dir / L"setup-<random>.log"), plan["operation"]["logFile"]);
        EXPECT_TRUE(plan["operation"].contains("logFileWhy"));
    }
}

// QZ_SETUP_PLAN in the control file makes every run of the folder a plan; an
// empty QZ_SETUP_PLAN= on the command line cancels it, and the run is real.
TEST_F(PlanRun, APlanInTheControlFileIsCancelledFromTheCommandLine) {
    WriteFileBytes(m_dir / L"qz-setup.dat", "QZ_SETUP_PLAN=plan.json\r\n");
    {
        SCOPED_TRACE("a plan");
        const SetupRun run = Run({L"/p", L"Plan Agent", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(PathExists(m_dir / L"plan.json"));
        EXPECT_FALSE(IsProductRegistered(m_package.productCode));
    }
    DeleteFileW((m_dir / L"plan.json").c_str());
    {
        SCOPED_TRACE("cancelled");
        const SetupRun run = RunSetup(m_dir.path(),
                                      {L"/p", L"Plan Agent", L"QZ_SETUP_MODE=UNATTENDED", L"QZ_SETUP_PLAN=",
                                       L"/l", L"setup.log", L"/e", L"exit.txt"},
                                      m_options);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_FALSE(PathExists(m_dir / L"plan.json"));
        EXPECT_TRUE(IsProductRegistered(m_package.productCode));
        EXPECT_EQ("0", ReadExitFile(m_dir / L"exit.txt").code);
    }
    DeleteFileW((m_dir / L"qz-setup.dat").c_str());
}

} // namespace
