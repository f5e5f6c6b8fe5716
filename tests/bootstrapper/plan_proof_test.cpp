// The plan is what happens: a table of folders and settings, each first
// planned (QZ_SETUP_PLAN), then run for real with the dialogs answered, on
// real packages. The real run must do what its plan said: the same package,
// the same transform, the same operation, the same properties (Wine's
// installer log ends with the properties that arrived: "Property(S): NAME =
// value"), the same end. And the plan run must have changed nothing.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/plan_reader.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"
#include "system/win_owners.h"

using namespace qztest;

namespace {

std::wstring RedistributableName() {
    return MachineIsX64() ? L"MSVS2010SP1_x64.msi" : L"MSVS2010SP1_x86.msi";
}

// A language other than the user's, for a package that a transform of the
// user's language can translate.
unsigned OtherLanguage() {
    return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_GERMAN ? 1033 : 1031;
}

// A property string (" NAME="value" ...", a double quote inside a value
// written as two) as NAME -> value.
std::map<std::string, std::string> ParseProperties(const std::string& text) {
    std::map<std::string, std::string> properties;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ')
            ++at;
        const size_t equals = text.find('=', at);
        if (equals == std::string::npos)
            break;
        const std::string name = text.substr(at, equals - at);
        std::string value;
        at = equals + 1;
        if (at < text.size() && text[at] == '"') {
            ++at;
            while (at < text.size()) {
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        value += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                value += text[at++];
            }
        } else {
            const size_t end = text.find(' ', at);
            value = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? text.size() : end;
        }
        properties[name] = value;
    }
    return properties;
}

// The folder of one case: the program, what the case puts beside it, the
// products it may install (removed afterwards) and a TEMP of its own.
class Folder {
public:
    Folder() {
        InstallSetupExe(m_dir.path());
        CreateDirectoryW(Temp().c_str(), nullptr);
    }
    ~Folder() {
        for (const auto& product : m_products)
            RemoveProduct(product.second);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::wstring operator/(const std::wstring& name) const { return m_dir / name; }
    const std::wstring& path() const { return m_dir.path(); }
    std::wstring Temp() const { return m_dir / L"tmp\\"; }

    // A package `file` whose product `key` the checks refer to.
    void Package(const std::wstring& key, const std::wstring& file, const std::wstring& platform,
                 unsigned language = 1033,
                 const std::vector<std::pair<std::wstring, std::wstring>>& extra = {},
                 int failWithError = 0) {
        PackageSpec built;
        built.productName = L"QZ Proof " + key;
        built.productCode = NewGuid();
        built.platform = platform;
        built.language = language;
        built.installFolder = L"QZ Proof " + built.productCode.substr(1, 8);
        built.properties = extra;
        if (failWithError) {
            built.errors = {{failWithError, L"Error [1]. Widget failure: [2]"}};
            built.failWithError = failWithError;
            built.failArguments = {L"proof"};
        }
        BuildPackage(built, m_dir / file);
        m_products[key] = built.productCode;
    }
    // Installs the product beforehand, as an earlier run would have.
    void Install(const std::wstring& key, const std::wstring& file) {
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        ASSERT_EQ(ERROR_SUCCESS, MsiInstallProductW((m_dir / file).c_str(), L"REBOOT=ReallySuppress"));
        ASSERT_TRUE(IsProductRegistered(ProductCode(key)));
    }
    // Holds `name` open as another program would, without leave to delete
    // it, until the folder goes.
    void HoldFile(const std::wstring& name) {
        WriteFileBytes(m_dir / name, "another program's");
        m_held.emplace_back(CreateFileW((m_dir / name).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(m_held.back().valid());
    }
    std::wstring ProductCode(const std::wstring& key) const { return m_products.at(key); }
    std::map<std::wstring, bool> Registrations() const {
        std::map<std::wstring, bool> registered;
        for (const auto& product : m_products)
            registered[product.first] = IsProductRegistered(product.second);
        return registered;
    }

private:
    TempDir m_dir;
    std::map<std::wstring, std::wstring> m_products; // key -> product code
    std::vector<UniqueFileHandle> m_held;            // closed before the folder is removed
};

struct ProofCase {
    const char* what;
    std::function<void(Folder&)> setUp;
    std::vector<std::wstring> arguments;
    // What the real run is expected to do to the products of the folder
    // (key -> registered afterwards); the plan must have said the same.
    std::map<std::wstring, bool> registeredAfter;
    DWORD exitCode; // of the real run
};

class PlanProof : public ::testing::Test {
protected:
    void Prove(const ProofCase& c);
};

void PlanProof::Prove(const ProofCase& c) {
    SCOPED_TRACE(c.what);
    Folder folder;
    c.setUp(folder);
    SetupOptions options;
    options.process.setEnv[L"TEMP"] = folder.Temp();
    options.process.setEnv[L"TMP"] = folder.Temp();
    options.process.setEnv[L"QZ_PROOF_FOLDER"] = folder.path();
    int languageDialogs = 0;
    std::vector<std::wstring> items;
    int selection = -1;
    options.onLanguageDialog = [&](HWND dialog) {
        // The item that starts selected, as the plan assumes.
        ++languageDialogs;
        items = ComboItems(dialog, IDC_LANGUAGE_COMBO);
        selection = ComboSelection(dialog, IDC_LANGUAGE_COMBO);
        PressOk(dialog);
    };

    // The plan.
    const std::map<std::wstring, bool> before = folder.Registrations();
    const std::set<std::wstring> filesBefore = ListTree(folder.path());
    std::vector<std::wstring> planArguments = c.arguments;
    planArguments.push_back(L"QZ_SETUP_PLAN=plan.json");
    const SetupRun planned = RunSetup(folder.path(), planArguments, options);
    ASSERT_FALSE(planned.timedOut);
    EXPECT_TRUE(planned.dialogs.empty());
    EXPECT_EQ(0, languageDialogs);
    EXPECT_EQ(before, folder.Registrations()) << "the plan run installed or removed something";
    for (const auto& file : ListTree(folder.path()))
        EXPECT_TRUE(filesBefore.count(file) || file == L"plan.json" || file == L"exit.txt")
            << "the plan run made " << ToUtf8(file);
    const PlanJson plan = ReadPlan(folder / L"plan.json");
    for (const std::string& field : UndocumentedPlanFields(plan))
        ADD_FAILURE() << "the manual does not document the plan's field " << field;
    const bool reachesInstaller = plan["end"]["outcome"] == "would call the installer";
    DeleteFileW((folder / L"plan.json").c_str());
    std::string plannedExitFileCode;
    if (PathExists(folder / L"exit.txt")) {
        plannedExitFileCode = ReadExitFile(folder / L"exit.txt").code;
        DeleteFileW((folder / L"exit.txt").c_str());
    }

    // The real run.
    const SetupRun run = RunSetup(folder.path(), c.arguments, options);
    ASSERT_FALSE(run.timedOut);
    // The language dialog came where the plan wrote down its offer.
    const bool offered = plan["language"].is_object() && plan["language"]["decision"] == "dialog";
    EXPECT_EQ(offered ? 1 : 0, languageDialogs);
    if (offered && languageDialogs == 1) {
        // The dialog offered what the plan wrote down, and started where it said.
        std::vector<std::string> planned;
        for (const auto& item : plan["language"]["dialog"]["items"])
            planned.push_back(item["text"]);
        std::vector<std::string> shown;
        for (const auto& item : items)
            shown.push_back(ToUtf8(item));
        EXPECT_EQ(planned, shown);
        EXPECT_EQ(plan["language"]["dialog"]["preselected"].get<int>(), selection);
    }
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_EQ(c.registeredAfter, folder.Registrations());

    const bool installerCodes = std::find(c.arguments.begin(), c.arguments.end(),
                                          L"QZ_SETUP_EXIT_CODE=INSTALLER") != c.arguments.end();
    if (!reachesInstaller) {
        // An early end: the plan run ended as the real run, with its exit codes.
        EXPECT_EQ(run.exitCode, planned.exitCode);
        EXPECT_EQ(run.exitCode, plan["end"][installerCodes ? "installerExitCode" : "exitCode"].get<DWORD>());
        if (PathExists(folder / L"exit.txt")) {
            EXPECT_EQ(ReadExitFile(folder / L"exit.txt").code, plannedExitFileCode);
            EXPECT_EQ(ReadExitFile(folder / L"exit.txt").code,
                      std::to_string(plan["end"]["resultCode"].get<int>()));
        }
        EXPECT_FALSE(plan.contains("operation") && !plan["operation"].is_null());
        return;
    }
    EXPECT_EQ(0u, planned.exitCode);

    // The same package: the installer's log the plan named ends with the
    // properties of the package the plan chose. (Under Wine the installer
    // writes its log over the bootstrapper's lines from the start of the file.)
    // The log the plan named is the one the real run used.
    const std::string logFile = plan["operation"]["logFile"];
    EXPECT_EQ((*PlanSetting(plan, "QZ_SETUP_LOG_FILE"))["value"], logFile);
    EXPECT_NE(std::string::npos, plan["operation"]["msiexec"].get<std::string>().find(logFile));
    const std::string log = ReadFileBytes(FromUtf8(logFile));
    ASSERT_FALSE(log.empty()) << "no log at " << logFile;
    const PlanJson& chosen = plan["packages"]["chosen"];
    EXPECT_EQ((*PlanSetting(plan, "QZ_SETUP_PACKAGE_FILE"))["value"], chosen["file"]);
    EXPECT_NE(std::string::npos,
              log.find("Property(S): ProductCode = " + chosen["productCode"].get<std::string>()))
        << chosen["productCode"];

    // The same properties, transform included: every one the plan names arrived.
    const auto properties = ParseProperties(plan["operation"]["properties"].get<std::string>());
    for (const auto& property : properties) {
        if (property.second == "********")
            continue;
        const std::string line = "Property(S): " + property.first + " = " + property.second;
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
    const auto transform = properties.find("TRANSFORMS");
    EXPECT_EQ(plan["operation"]["transforms"].is_null(), transform == properties.end());
    if (!plan["operation"]["transforms"].is_null()) {
        EXPECT_NE(std::string::npos, log.find("Property(S): TRANSFORMS = " +
                                              plan["operation"]["transforms"].get<std::string>()));
    }
    // A transform that was applied shows in the installed product's name.
    const std::map<std::wstring, bool> after = folder.Registrations();
    if (transform != properties.end() && after.count(L"Agent") && after.at(L"Agent")) {
        EXPECT_EQ(L"QZ Proof translated",
                  ProductInfo(folder.ProductCode(L"Agent"), INSTALLPROPERTY_INSTALLEDPRODUCTNAME));
    }

    // The same operation.
    const std::string action = plan["operation"]["action"];
    EXPECT_EQ(action == "repair", log.find("Property(S): REINSTALL = ALL") != std::string::npos);
    EXPECT_EQ(action == "remove", log.find("Property(S): REMOVE = ALL") != std::string::npos);

    // The same redistributable decision.
    const bool redistributable = plan["redistributable"]["wouldRun"];
    const auto runtime = after.find(L"Runtime");
    EXPECT_EQ(redistributable, runtime != after.end() && runtime->second);
}

TEST_F(PlanProof, ThePlanIsWhatHappens) {
    const std::wstring native = NativePlatform();
    const auto two = [native](Folder& f) {
        f.Package(L"Agent " + native, L"agent-a.msi", native);
        f.Package(L"Agent " + ForeignPlatform(), L"agent-b.msi", ForeignPlatform());
    };
    const auto one = [native](Folder& f) { f.Package(L"Agent", L"agent.msi", native); };
    const auto userTransform = [native](Folder& f) {
        f.Package(L"Agent", L"agent.msi", native, OtherLanguage());
        WriteLanguageTransform(f / L"user.mst", GetUserDefaultLangID(),
                               {{L"ProductName", L"QZ Proof translated"}});
    };
    const std::vector<std::wstring> unattended = {L"/e", L"exit.txt"};
    const auto with = [&](std::vector<std::wstring> arguments) {
        arguments.insert(arguments.end(), unattended.begin(), unattended.end());
        return arguments;
    };
    const auto heldLog = [one](Folder& f) {
        one(f);
        f.HoldFile(L"setup.log");
    };
    const auto installed = [one](Folder& f) {
        one(f);
        f.Install(L"Agent", L"agent.msi");
    };
    const ProofCase cases[] = {
        {"by name, an x64 and an x86 package",
         two,
         with({L"/p", L"Proof Agent"}),
         {{L"Agent " + native, true}, {L"Agent " + ForeignPlatform(), false}},
         0},
        {"by file, whatever its platform",
         two,
         with({L"/f", L"agent-b.msi"}),
         {{L"Agent " + native, false}, {L"Agent " + ForeignPlatform(), true}},
         0},
        {"an installed product is repaired",
         [one](Folder& f) {
             one(f);
             f.Install(L"Agent", L"agent.msi");
         },
         with({L"/p", L"Proof Agent", L"/v"}),
         {{L"Agent", true}},
         0},
        {"removal",
         [one](Folder& f) {
             one(f);
             f.Install(L"Agent", L"agent.msi");
         },
         with({L"/p", L"Proof Agent", L"QZ_SETUP_MODE=UNATTENDED_UNINSTALL"}),
         {{L"Agent", false}},
         0},
        {"the user's language with a transform: the dialog",
         userTransform,
         {L"/p", L"Proof Agent"},
         {{L"Agent", true}},
         0},
        {"the transform named by QZ_SETUP_LANG_TRANSFORM",
         userTransform,
         {L"/p", L"Proof Agent", L"QZ_SETUP_LANG_TRANSFORM=%QZ_PROOF_FOLDER%user.mst"},
         {{L"Agent", true}},
         0},
        {"unattended, with a redistributable",
         [one](Folder& f) {
             one(f);
             f.Package(L"Runtime", RedistributableName(), L"Intel");
         },
         with({L"/p", L"Proof Agent"}),
         {{L"Agent", true}, {L"Runtime", true}},
         0},
        {"an attended run leaves the redistributable alone",
         [one](Folder& f) {
             one(f);
             f.Package(L"Runtime", RedistributableName(), L"Intel");
         },
         {L"/p", L"Proof Agent"},
         {{L"Agent", true}, {L"Runtime", false}},
         0},
        {"no package matches",
         two,
         with({L"/p", L"No Such Agent"}),
         {{L"Agent " + native, false}, {L"Agent " + ForeignPlatform(), false}},
         1},
        {"a refused setting",
         one,
         with({L"/p", L"Proof Agent", L"QZ_SETUP_MODE=unattended"}),
         {{L"Agent", false}},
         1},
        {"a control file and a response file overriding each other",
         [one](Folder& f) {
             one(f);
             WriteFileBytes(f / L"qz-setup.dat", "QZ_SETUP_PACKAGE_NAME=Proof Agent\r\n"
                                                 "PROOF_FROM=control file\r\n"
                                                 "PROOF_CONTROL=only here\r\n");
             WriteFileBytes(f / L"answers.rsp", "PROOF_FROM=response file\r\n"
                                                "PROOF_RESPONSE=only here\r\n"
                                                "QZ_SETUP_EXIT_FILE=exit.txt\r\n");
         },
         {L"/r", L"answers.rsp", L"PROOF_LINE=command line"},
         {{L"Agent", true}},
         0},
        {"installer codes: the installer's failure",
         [native](Folder& f) { f.Package(L"Agent", L"agent.msi", native, 1033, {}, 25000); },
         with({L"/p", L"Proof Agent", L"QZ_SETUP_EXIT_CODE=INSTALLER"}),
         {{L"Agent", false}},
         1603},
        {"installer codes: no package",
         two,
         with({L"/p", L"No Such Agent", L"QZ_SETUP_EXIT_CODE=INSTALLER"}),
         {{L"Agent " + native, false}, {L"Agent " + ForeignPlatform(), false}},
         1619},
        {"installer codes: a refused control file",
         [one](Folder& f) {
             one(f);
             WriteFileBytes(f / L"qz-setup.dat", "no equals sign\r\n");
         },
         with({L"/p", L"Proof Agent", L"QZ_SETUP_EXIT_CODE=INSTALLER"}),
         {{L"Agent", false}},
         1603},
        {"a log path through a file",
         one,
         with({L"/p", L"Proof Agent", L"/l", L"agent.msi\\logs\\setup.log"}),
         {{L"Agent", false}},
         1},
        {"a log name another program holds: the first free numbered name",
         heldLog,
         with({L"/p", L"Proof Agent", L"/l", L"%QZ_PROOF_FOLDER%setup.log"}),
         {{L"Agent", true}},
         0},
        {"help", one, with({L"/p", L"Proof Agent", L"/h"}), {{L"Agent", false}}, 0},
        {"the INSTALL mode",
         one,
         with({L"/p", L"Proof Agent", L"QZ_SETUP_MODE=INSTALL"}),
         {{L"Agent", true}},
         0},
        {"the UNINSTALL mode",
         installed,
         with({L"/p", L"Proof Agent", L"QZ_SETUP_MODE=UNINSTALL"}),
         {{L"Agent", false}},
         0},
    };
    for (const auto& c : cases)
        Prove(c);
}

} // namespace
