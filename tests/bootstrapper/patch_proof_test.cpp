// Patches beside the package (QZ_SETUP_PATCHES), proved like the plan: each
// case is planned, then run for real, on real packages and patches; where the
// installer is called, the plan's msiexec line run by hand on the same machine
// ends in the same state.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "diag/messages.h"
#include "resources/resource_ids.h"
#include "support/package_builder.h"
#include "support/patch_writer.h"
#include "support/plan_reader.h"
#include "support/process_runner.h"
#include "support/setup_runner.h"
#include "support/test_env.h"

using namespace qztest;

namespace {

const std::string kBaseContent = "installed by a test\r\n";
const std::string kPatchedContent = "brought up to date by a patch\r\n";

// A message as the program formats it.
template <class... Args> std::string Message(WORD id, const Args&... args) {
    std::wstring text;
    FormatResourceMessage(id, text, args...);
    return ToUtf8(text);
}

// A folder with the program, a product's base package (1.0.0) and the patch
// to 1.0.1 (a changed property and a changed file), and another product's
// package and patch to put beside it.
class PatchFolder {
public:
    PatchFolder() {
        InstallSetupExe(m_dir.path());
        CreateDirectoryW(Temp().c_str(), nullptr);
        CreateDirectoryW((m_dir / L"build\\").c_str(), nullptr);
        m_product = MakePatched(L"app.msi", L"update.msp", m_patchCode);
    }
    ~PatchFolder() {
        for (const std::wstring& product : {m_product, m_other})
            if (!product.empty())
                RemoveProduct(product);
    }
    PatchFolder(const PatchFolder&) = delete;
    PatchFolder& operator=(const PatchFolder&) = delete;

    std::wstring operator/(const std::wstring& name) const { return m_dir / name; }
    const std::wstring& path() const { return m_dir.path(); }
    std::wstring Temp() const { return m_dir / L"tmp\\"; }
    const std::wstring& Product() const { return m_product; }
    const std::wstring& PatchCode() const { return m_patchCode; }
    std::wstring InstalledFile() const {
        return ProgramFilesFolderFor(NativePlatform()) + L"\\" + m_folder + L"\\readme.txt";
    }

    // Another product's patch beside this one's (its package kept aside).
    void OtherProductsPatch(const std::wstring& name) {
        std::wstring code;
        m_other = MakePatched(L"build\\other.msi", name, code);
    }
    void InstallBase() {
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        ASSERT_EQ(0u, MsiInstallProductW((m_dir / L"app.msi").c_str(), L"REBOOT=ReallySuppress"));
    }

private:
    std::wstring MakePatched(const std::wstring& package, const std::wstring& patch,
                             std::wstring& patchCode) {
        PackageSpec base;
        base.productName = L"QZ Patch Proof";
        base.productCode = NewGuid();
        base.upgradeCode = NewGuid();
        base.platform = NativePlatform();
        base.installFolder = L"QZ Patch Proof " + base.productCode.substr(1, 8);
        base.properties = {{L"QZ_CHANNEL", L"base"}};
        base.files = {{L"readme.txt", kBaseContent}};
        BuildPackage(base, m_dir / package);
        PackageSpec upgraded = base;
        upgraded.version = L"1.0.1";
        upgraded.properties = {{L"QZ_CHANNEL", L"patched"}};
        upgraded.files = {{L"readme.txt", kPatchedContent}};
        BuildPackage(upgraded, m_dir / L"build\\upgraded.msi");
        patchCode = WritePatch(m_dir / package, m_dir / L"build\\upgraded.msi", m_dir / patch).patchCode;
        if (m_folder.empty())
            m_folder = base.installFolder;
        return base.productCode;
    }

    TempDir m_dir;
    std::wstring m_product, m_other, m_patchCode, m_folder;
};

// What a case leaves: the product's registration, version, patches and file.
struct ProductState {
    bool registered = false;
    std::wstring version;
    std::vector<std::wstring> patches;
    std::string file;
    bool operator==(const ProductState& other) const {
        return registered == other.registered && version == other.version && patches == other.patches &&
               file == other.file;
    }
};

ProductState StateOf(const PatchFolder& folder) {
    ProductState state;
    state.registered = IsProductRegistered(folder.Product());
    state.version = ProductInfo(folder.Product(), INSTALLPROPERTY_VERSIONSTRING);
    state.patches = AppliedPatches(folder.Product());
    if (GetFileAttributesW(folder.InstalledFile().c_str()) != INVALID_FILE_ATTRIBUTES)
        state.file = ReadFileBytes(folder.InstalledFile());
    return state;
}

struct PatchCase {
    const char* what;
    std::function<void(PatchFolder&)> setUp;
    std::vector<std::wstring> arguments;
    DWORD exitCode;
    std::string resultCode; // the exit file's
    bool patched;           // 1.0.1 with the patch, afterwards
    bool registered;
    WORD passedOver;                  // the information line of a patch passed over (0: none)
    std::vector<std::string> applies; // the plan's verdicts, file by file ("yes", or why not)
};

TEST(PatchProof, PatchesAreAppliedAsPlanned) {
    const std::vector<std::wstring> unattended = {L"/f", L"app.msi", L"/e", L"exit.txt"};
    const auto with = [&](std::vector<std::wstring> more) {
        std::vector<std::wstring> arguments = unattended;
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    };
    const auto nothing = [](PatchFolder&) {};
    const auto installed = [](PatchFolder& f) { f.InstallBase(); };
    const auto damaged = [](PatchFolder& f) { WriteFileBytes(f / L"broken.msp", "not a patch at all"); };
    const auto otherBeside = [](PatchFolder& f) { f.OtherProductsPatch(L"other.msp"); };
    const auto patchedAlready = [](PatchFolder& f) {
        f.InstallBase();
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        ASSERT_EQ(0u, MsiApplyPatchW((f / L"update.msp").c_str(), nullptr, INSTALLTYPE_DEFAULT,
                                     L"REBOOT=ReallySuppress"));
    };
    const PatchCase cases[] = {
        {"first installation with every patch of the folder",
         nothing,
         with({L"QZ_SETUP_PATCHES=*"}),
         0,
         "0",
         true,
         true,
         0,
         {"yes"}},
        {"a named patch, as a repair of the installed product",
         installed,
         with({L"QZ_SETUP_PATCHES=update.msp"}),
         0,
         "0",
         true,
         true,
         0,
         {"yes"}},
        {"a patch applied already is passed over on a rerun",
         patchedAlready,
         with({L"QZ_SETUP_PATCHES=*"}),
         0,
         "0",
         true,
         true,
         IDS_PATCH_ALREADY_APPLIED,
         {"it is already applied to the installed product"}},
        {"another product's patch beside is passed over",
         otherBeside,
         with({L"QZ_SETUP_PATCHES=*"}),
         0,
         "0",
         true,
         true,
         IDS_PATCH_OTHER_PRODUCT,
         {"it is for another product", "yes"}},
        {"another product's patch named ends the run",
         otherBeside,
         with({L"QZ_SETUP_PATCHES=other.msp;update.msp", L"QZ_SETUP_EXIT_CODE=INSTALLER"}),
         1642,
         "1642",
         false,
         false,
         0,
         {"it is for another product", "yes"}},
        {"a damaged patch ends the run",
         damaged,
         with({L"QZ_SETUP_PATCHES=*"}),
         1,
         "1636",
         false,
         false,
         0,
         {"it cannot be read as a patch"}},
        {"a damaged patch, with the installer's codes",
         damaged,
         with({L"QZ_SETUP_PATCHES=*", L"QZ_SETUP_EXIT_CODE=INSTALLER"}),
         1636,
         "1636",
         false,
         false,
         0,
         {"it cannot be read as a patch"}},
        {"a named patch that is not there",
         nothing,
         with({L"QZ_SETUP_PATCHES=missing.msp"}),
         1,
         "1635",
         false,
         false,
         0,
         {"it does not exist"}},
        {"removal takes the product and its patch",
         patchedAlready,
         with({L"QZ_SETUP_PATCHES=*", L"QZ_SETUP_MODE=UNATTENDED_UNINSTALL"}),
         0,
         "0",
         false,
         false,
         0,
         {}},
    };
    for (const PatchCase& c : cases) {
        SCOPED_TRACE(c.what);
        PatchFolder folder;
        c.setUp(folder);
        SetupOptions options;
        options.process.setEnv[L"TEMP"] = folder.Temp();
        options.process.setEnv[L"TMP"] = folder.Temp();
        const ProductState before = StateOf(folder);

        // The plan: nothing changes, and it says what the run does.
        std::vector<std::wstring> planArguments = c.arguments;
        planArguments.push_back(L"QZ_SETUP_PLAN=plan.json");
        const SetupRun planned = RunSetup(folder.path(), planArguments, options);
        ASSERT_FALSE(planned.timedOut);
        EXPECT_EQ(before, StateOf(folder)) << "the plan run changed the product";
        const PlanJson plan = ReadPlan(folder / L"plan.json");
        for (const std::string& field : UndocumentedPlanFields(plan))
            ADD_FAILURE() << "the manual does not document the plan's field " << field;
        const bool removal = c.applies.empty();
        ASSERT_TRUE(plan["patches"].is_object());
        std::vector<std::string> verdicts;
        for (const auto& file : plan["patches"]["files"])
            verdicts.push_back(file["applies"].get<bool>() ? "yes" : file["why"].get<std::string>());
        EXPECT_EQ(c.applies, verdicts);
        if (removal) {
            EXPECT_EQ("a removal applies no patches", plan["patches"]["why"]);
        }
        DeleteFileW((folder / L"exit.txt").c_str());

        // The real run.
        const SetupRun run = RunSetup(folder.path(), c.arguments, options);
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_EQ(c.resultCode, ReadExitFile(folder / L"exit.txt").code);
        const ProductState after = StateOf(folder);
        EXPECT_EQ(c.registered, after.registered);
        if (c.patched) {
            EXPECT_EQ(L"1.0.1", after.version);
            EXPECT_EQ(std::vector<std::wstring>{folder.PatchCode()}, after.patches);
            EXPECT_EQ(kPatchedContent, after.file);
        } else {
            EXPECT_TRUE(after.patches.empty());
        }
        if (!c.registered) {
            EXPECT_TRUE(after.file.empty()) << "the product's file is still there";
        }

        // The lines the run logs before the installer's own (under Wine the
        // installer writes its log over them, so the plan's copy is read).
        std::string planLog;
        for (const auto& line : plan["log"])
            planLog += line.get<std::string>() + "\n";
        const std::string otherProduct = Message(IDS_PATCH_OTHER_PRODUCT, folder / L"other.msp");
        EXPECT_EQ(c.passedOver == IDS_PATCH_OTHER_PRODUCT, planLog.find(otherProduct) != std::string::npos)
            << otherProduct;
        const std::string alreadyApplied =
            Message(IDS_PATCH_ALREADY_APPLIED, folder / L"update.msp", folder.PatchCode());
        EXPECT_EQ(c.passedOver == IDS_PATCH_ALREADY_APPLIED,
                  planLog.find(alreadyApplied) != std::string::npos)
            << alreadyApplied;
        // The installer gets the patch unless it is there already.
        const bool given = c.patched && c.passedOver != IDS_PATCH_ALREADY_APPLIED;
        const std::string applied =
            Message(IDS_PATCH_APPLIED_WITH, folder / L"update.msp", folder.PatchCode(), 1u);
        EXPECT_EQ(given, planLog.find(applied) != std::string::npos) << applied;

        const bool reachesInstaller = plan["end"]["outcome"] == "would call the installer";
        if (!reachesInstaller) {
            // Ended before any installer call, as the plan said, with its message in the log.
            EXPECT_EQ(run.exitCode, planned.exitCode);
            const std::string logFile = (*PlanSetting(plan, "QZ_SETUP_LOG_FILE"))["value"];
            const std::string log = ToUtf8(ReadUtf16File(FromUtf8(logFile)));
            EXPECT_NE(std::string::npos, log.find(plan["end"]["message"]["text"].get<std::string>())) << log;
            continue;
        }
        const std::string patchValue = given ? PlanText(folder / L"update.msp") : std::string();
        EXPECT_EQ(given ? PlanJson(patchValue) : PlanJson(), plan["operation"]["patches"]);
        const std::string properties = plan["operation"]["properties"];
        EXPECT_EQ(given, properties.find(" PATCH=\"" + patchValue + "\"") != std::string::npos) << properties;
        if (!given || !after.registered)
            continue;

        // By hand: the plan's msiexec line, on the product as it was before,
        // ends the same way.
        ASSERT_EQ(0u, RemoveProduct(folder.Product()));
        c.setUp(folder);
        const std::string msiexec = plan["operation"]["msiexec"];
        const std::wstring tail = FromUtf8(msiexec.substr(msiexec.find(' ') + 1));
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        const ProcessResult byHand = RunProgram(std::wstring(system) + L"\\msiexec.exe", tail);
        EXPECT_EQ(0u, byHand.exitCode) << msiexec;
        EXPECT_EQ(after, StateOf(folder)) << msiexec;
    }
}

// With QZ_SETUP_PATCHES, PATCH is no pass-through setting: the run is
// refused before anything is looked at.
TEST(PatchProof, PatchPropertyBesideTheSettingIsRefused) {
    PatchFolder folder;
    SetupOptions options;
    options.process.setEnv[L"TEMP"] = folder.Temp();
    std::vector<std::wstring> arguments = {
        L"/f", L"app.msi", L"/e", L"exit.txt", L"QZ_SETUP_PATCHES=*", L"PATCH=" + (folder / L"update.msp")};
    const SetupRun run = RunSetup(folder.path(), arguments, options);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_FALSE(IsProductRegistered(folder.Product()));
    arguments.push_back(L"QZ_SETUP_PLAN=plan.json");
    RunSetup(folder.path(), arguments, options);
    const PlanJson plan = ReadPlan(folder / L"plan.json");
    EXPECT_EQ(IDS_PATCH_WITH_PATCH_PROPERTY, plan["end"]["message"]["id"].get<int>());
    EXPECT_EQ(Message(IDS_PATCH_WITH_PATCH_PROPERTY), plan["end"]["message"]["text"].get<std::string>());
}

} // namespace
