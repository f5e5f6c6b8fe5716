// Plans for another machine (QZ_SETUP_PLAN_AS=<processor>[:<language>]) of
// the real qz-setup.exe: the same choices as a real run, made for the
// processor and user language named, with the product taken as not
// installed, and nothing changed on this machine.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/module_texts.h"
#include "support/package_builder.h"
#include "support/plan_reader.h"
#include "support/platform_deviations.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

using namespace qztest;

namespace {

bool IsPlanOrExitFile(const std::wstring& path) {
    return path == L"plan.json" || path == L"exit.txt";
}

// This machine's processor as the setting names it.
const wchar_t* NativeProcessorName() {
    return NativePlatform() == L"x64" ? L"AMD64" : L"x86";
}

// The platform the running build is emulated as on an Arm64 machine.
const char* EmulatedPlatform() {
    return sizeof(void*) == 8 ? "x64" : "Intel";
}

// A folder with qz-setup.exe and one package per processor (x86 a.msi, x64
// b.msi, Arm64 c.msi: Wine lists a folder by name); the runs get a TEMP of
// their own, which must stay empty.
class PlanAs : public ::testing::Test {
protected:
    void SetUp() override {
        InstallSetupExe(m_dir.path());
        const struct {
            const wchar_t* file;
            const wchar_t* platform;
        } packages[] = {{L"a.msi", L"Intel"}, {L"b.msi", L"x64"}, {L"c.msi", L"Arm64"}};
        for (const auto& each : packages) {
            PackageSpec description;
            description.productName = L"QZ Plan As Agent";
            description.productCode = NewGuid();
            description.platform = each.platform;
            description.installFolder = L"QZ Plan As " + description.productCode.substr(1, 8);
            BuildPackage(description, m_dir / each.file);
            m_productCodes.push_back(description.productCode);
        }
        CreateDirectoryW((m_dir / L"tmp").c_str(), nullptr);
        m_options.process.setEnv[L"TEMP"] = m_dir / L"tmp";
        m_options.process.setEnv[L"TMP"] = m_dir / L"tmp";
        m_options.onLanguageDialog = [this](HWND dialog) {
            ++m_languageDialogs;
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        };
    }
    void TearDown() override {
        for (const std::wstring& code : m_productCodes)
            RemoveProduct(code);
    }

    // A plan run: beside the program only the plan and the exit file may
    // come, in TEMP nothing, and no product is registered by it.
    SetupRun Plan(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), {L"/p", L"Plan As Agent", L"QZ_SETUP_PLAN=plan.json"});
        DeleteFileW((m_dir / L"plan.json").c_str());
        std::vector<bool> registered;
        for (const std::wstring& code : m_productCodes)
            registered.push_back(IsProductRegistered(code));
        SetupRun run = RunSetupLeavingNothing(m_dir.path(), arguments, m_options, IsPlanOrExitFile);
        for (std::size_t i = 0; i < m_productCodes.size(); ++i)
            EXPECT_EQ(registered[i], IsProductRegistered(m_productCodes[i])) << i;
        EXPECT_EQ(0, m_languageDialogs);
        EXPECT_TRUE(run.dialogs.empty());
        return run;
    }

    // The plan of the last run, every field of it documented in the manual.
    PlanJson Written() const {
        PlanJson plan = ReadPlan(m_dir / L"plan.json");
        for (const std::string& field : UndocumentedPlanFields(plan))
            ADD_FAILURE() << "the manual does not document the plan's field " << field;
        return plan;
    }

    TempDir m_dir;
    std::vector<std::wstring> m_productCodes; // a.msi, b.msi, c.msi
    SetupOptions m_options;
    int m_languageDialogs = 0;
};

// Each processor takes the package a real run on it would take; the one this
// machine has takes what this machine's plan (the real run's decisions) takes.
TEST_F(PlanAs, EachProcessorTakesThePackageItsRunWouldTake) {
    for (const bool withArm64 : {true, false}) {
        SCOPED_TRACE(withArm64 ? "with an Arm64 package" : "without an Arm64 package");
        if (!withArm64) {
            ASSERT_TRUE(DeleteFileW((m_dir / L"c.msi").c_str()));
        }

        ASSERT_EQ(0u, Plan({}).exitCode);
        const PlanJson here = Written();
        EXPECT_TRUE(here["machine"]["assumed"].is_null());

        const struct {
            const wchar_t* setting;
            const char* processor;
            std::string platform;
            const char* fallback; // null: none
        } cases[] = {
            {L"x86", "x86", "Intel", nullptr},
            {L"AMD64", "AMD64", "x64", nullptr},
            {L"amd64", "AMD64", "x64", nullptr},
            {L"ARM64", "ARM64", withArm64 ? "Arm64" : EmulatedPlatform(), EmulatedPlatform()},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(ToUtf8(c.setting));
            const SetupRun run = Plan({std::wstring(L"QZ_SETUP_PLAN_AS=") + c.setting});
            EXPECT_EQ(0u, run.exitCode);
            const PlanJson plan = Written();
            EXPECT_EQ(c.processor, plan["machine"]["processor"]);
            EXPECT_EQ(c.platform, plan["packages"]["chosen"]["platform"]);
            const wchar_t* file = c.platform == "Intel" ? L"a.msi"
                                  : c.platform == "x64" ? L"b.msi"
                                                        : L"c.msi";
            EXPECT_EQ(PlanText(m_dir / file), plan["packages"]["chosen"]["file"]);
            if (c.fallback) {
                EXPECT_EQ(c.fallback, plan["machine"]["fallback"]["platform"]);
                EXPECT_EQ(c.fallback, plan["machine"]["packagePlatforms"][1]);
            } else {
                EXPECT_FALSE(plan["machine"].contains("fallback"));
            }
            const PlanJson& assumed = plan["machine"]["assumed"];
            EXPECT_EQ(PlanText(c.setting), assumed["setting"]);
            EXPECT_EQ(true, assumed["processor"]);
            EXPECT_EQ(false, assumed["userLanguage"]);
            EXPECT_EQ(false, assumed["productInstalled"]);
            // Without a language, the user's own.
            EXPECT_EQ(here["machine"]["languages"], plan["machine"]["languages"]);
            EXPECT_EQ("would call the installer", plan["end"]["outcome"]);
            if (plan["machine"]["processor"] == ToUtf8(NativeProcessorName())) {
                EXPECT_EQ(here["packages"]["chosen"], plan["packages"]["chosen"]);
            }
        }
    }
}

// The user language named with the processor decides the language dialog's
// offer and the help file's codes.
TEST_F(PlanAs, TheLanguageNamedDecidesTheOffer) {
    WriteLanguageTransform(m_dir / L"fr.mst", 1036);
    WriteLanguageTransform(m_dir / L"ja.mst", 1041);
    const SetupRun run = Plan({L"QZ_SETUP_PLAN_AS=x86:1036"});
    EXPECT_EQ(0u, run.exitCode);
    const PlanJson plan = Written();
    EXPECT_EQ(1036, plan["machine"]["languages"]["user"]["id"]);
    EXPECT_EQ("fr-FR", plan["machine"]["languages"]["user"]["name"]);
    EXPECT_EQ((std::vector<std::string>{"fra", "enu"}), plan["machine"]["languages"]["helpFile"]);
    EXPECT_EQ(true, plan["machine"]["assumed"]["userLanguage"]);
    EXPECT_EQ("dialog", plan["language"]["decision"]);
    EXPECT_EQ(1036, plan["language"]["userLanguage"]);
    EXPECT_EQ(PlanText(m_dir / L"fr.mst"), plan["language"]["dialog"]["items"][0]["transform"]);
    EXPECT_EQ(PlanText(m_dir / L"fr.mst"), (*PlanSetting(plan, "QZ_SETUP_LANG_TRANSFORM"))["value"]);
}

// The product installed here is taken as not installed on the machine planned
// for: a first installation, where this machine's plan says repair.
TEST_F(PlanAs, TheProductIsTakenAsNotInstalled) {
    const std::wstring native = NativePlatform() == L"x64" ? m_dir / L"b.msi" : m_dir / L"a.msi";
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ASSERT_EQ(ERROR_SUCCESS, MsiInstallProductW(native.c_str(), L"REBOOT=ReallySuppress"));

    ASSERT_EQ(0u, Plan({}).exitCode);
    EXPECT_EQ("repair", Written()["operation"]["action"]);

    for (const std::wstring mode : {L"INSTALL", L"UNATTENDED", L"UNATTENDED_UNINSTALL"}) {
        SCOPED_TRACE(ToUtf8(mode));
        const SetupRun run =
            Plan({std::wstring(L"QZ_SETUP_PLAN_AS=") + NativeProcessorName(), L"QZ_SETUP_MODE=" + mode});
        EXPECT_EQ(0u, run.exitCode);
        const PlanJson plan = Written();
        EXPECT_EQ(mode == L"UNATTENDED_UNINSTALL" ? "remove" : "install", plan["operation"]["action"]);
        if (mode == L"UNATTENDED_UNINSTALL") {
            EXPECT_EQ(false, plan["operation"]["installed"]);
        }
        // The installed product keeps its language here; there, the user's offer counts.
        if (mode == L"INSTALL") {
            EXPECT_NE("the product is installed: it keeps its language", plan["language"]["why"]);
        }
    }
}

// A value that names no machine ends the plan as refused settings do.
TEST_F(PlanAs, AValueThatNamesNoMachineEndsThePlan) {
    const wchar_t* values[] = {L"",     L"arm",  L"x86:",         L"x86:fr", L"AMD64:0", L"AMD64:70000",
                               L" x86", L"x86 ", L"ARM64:1036:1", L"**"};
    for (const wchar_t* value : values) {
        SCOPED_TRACE(ToUtf8(value));
        for (const bool installerCodes : {false, true}) {
            std::vector<std::wstring> arguments{std::wstring(L"QZ_SETUP_PLAN_AS=") + value};
            if (installerCodes)
                arguments.push_back(L"QZ_SETUP_EXIT_CODE=INSTALLER");
            const SetupRun run = Plan(arguments);
            EXPECT_EQ(installerCodes ? 1603u : 1u, run.exitCode);
            const PlanJson plan = Written();
            EXPECT_EQ("would end before the installer", plan["end"]["outcome"]);
            EXPECT_EQ(IDS_PLAN_AS_REFUSED, plan["end"]["message"]["id"]);
            EXPECT_EQ(PlanText(Message(IDS_PLAN_AS_REFUSED, value)), plan["end"]["message"]["text"]);
        }
    }
}

// Outside a plan run the setting changes nothing: a line of it in the control
// file leaves the folder's real installation as it was, and one information
// line names it.
TEST_F(PlanAs, ARealRunIgnoresItAndSaysSo) {
    const std::wstring native = NativePlatform() == L"x64" ? m_productCodes[1] : m_productCodes[0];
    for (const char* value : {"ARM64:1041", "nonsense"}) {
        SCOPED_TRACE(value);
        const std::wstring line = Message(IDS_PLAN_AS_IGNORED, FromUtf8(value));
        WriteFileBytes(m_dir / L"qz-setup.dat", std::string("QZ_SETUP_PLAN_AS=") + value + "\r\n");
        const SetupRun run =
            RunSetup(m_dir.path(),
                     {L"/p", L"Plan As Agent", L"QZ_SETUP_MODE=UNATTENDED", L"/l", L"setup.log"}, m_options);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(IsProductRegistered(native));
        // The installer's log is written over the start of ours where it does
        // not append.
        if (!Deviates(Deviation::InstallerLogAppend)) {
            std::size_t named = 0;
            for (const std::wstring& logged : ReadLogLines(m_dir / L"setup.log"))
                named += logged.find(line) != std::wstring::npos;
            EXPECT_EQ(1u, named);
        }
        EXPECT_EQ(ERROR_SUCCESS, RemoveProduct(native));

        // An attended run that ends early shows its lines: the setting's among them, once.
        const SetupRun shown = RunSetup(m_dir.path(), {L"/p", L"No Such Agent"}, m_options);
        EXPECT_EQ(1u, shown.exitCode);
        ASSERT_EQ(1u, shown.dialogs.size());
        const std::wstring& text = shown.dialogs[0];
        const std::size_t at = text.find(line);
        EXPECT_NE(std::wstring::npos, at) << ToUtf8(text);
        if (at != std::wstring::npos) {
            EXPECT_EQ(std::wstring::npos, text.find(line, at + 1));
        }
    }
}

} // namespace
