// What deployment tools are told of a folder: the deployment part's facts
// against the packages as they were built, the recipes' command lines, the
// return codes, the winget manifests (placeholders, the zip's digest, the
// Arm64 entry) and a manifests folder that cannot be had. The manifests'
// schema check runs on the Linux side, on the samples written here
// (winget.manifests_pass_the_schema).
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "bootstrapper/deployment_report.h"
#include "msi/package.h"
#include "resources/resource_ids.h"
#include "support/package_builder.h"
#include "support/test_env.h"
#include "system/file_hash.h"

using namespace qztest;
using Json = nlohmann::ordered_json;

namespace {

// A folder of packages built from `descriptions`, and the facts the folder check
// would hand over, read with the program's own package reader.
struct Folder {
    TempDir dir;
    std::vector<PackageSpec> descriptions;
    DeploymentFacts facts;

    Folder(std::vector<PackageSpec> built, const std::wstring& packageName) : descriptions(std::move(built)) {
        facts.packageName = packageName;
        for (PackageSpec& description : descriptions) {
            if (description.productCode.empty())
                description.productCode = NewGuid();
            if (description.upgradeCode.empty())
                description.upgradeCode = NewGuid();
            const std::wstring file = dir / (L"Sample Agent " + description.platform + L".msi");
            BuildPackage(description, file);
            QZ::MSInstaller::Package package = QZ::MSInstaller::Package::Open(file);
            facts.packages.push_back({WingetArchitecture(package.Platform()), file, package.ProductCode(),
                                      package.UpgradeCode(), package.ProductVersion(), package.ProductName(),
                                      L""});
        }
        // The reader has no Manufacturer: the folder check reads it as any other property.
        for (std::size_t i = 0; i < descriptions.size(); ++i)
            facts.packages[i].manufacturer = descriptions[i].manufacturer;
    }
};

PackageSpec Description(const std::wstring& platform, const std::wstring& version = L"2.5.1") {
    PackageSpec description;
    description.productName = L"QZ Sample Agent";
    description.manufacturer = L"QZ Samples Inc.";
    description.version = version;
    description.platform = platform;
    return description;
}

std::string Text(const std::wstring& text) {
    return ToUtf8(text);
}

const VariableMap kAllGiven = {
    {L"QZ_SETUP_WINGET_ID", L"QZSamples.SampleAgent"},
    {L"QZ_SETUP_WINGET_LICENSE", L"Proprietary"},
    {L"QZ_SETUP_WINGET_DESCRIPTION", L"The sample agent of QZ Setup."},
    {L"QZ_SETUP_WINGET_URL", L"https://downloads.example.com/sample-agent-2.5.1.zip"},
};

TEST(DeploymentPart, FactsPerArchitectureAreThePackagesOwn) {
    Folder folder({Description(L"Intel"), Description(L"x64"), Description(L"Arm64")}, L"Sample Agent");
    std::vector<std::wstring> placeholders;
    const Json part = DeploymentPart(folder.facts, VariableMap(), placeholders);

    ASSERT_EQ(3u, part["packages"].size());
    const char* const architectures[] = {"x86", "x64", "arm64"};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(architectures[i]);
        const Json& package = part["packages"][i];
        const PackageSpec& description = folder.descriptions[i];
        EXPECT_EQ(architectures[i], package["architecture"]);
        // As the package builder wrote them, not as the program read them.
        EXPECT_EQ(Text(description.productCode), package["productCode"]);
        EXPECT_EQ(Text(description.upgradeCode), package["upgradeCode"]);
        EXPECT_EQ("2.5.1", package["productVersion"]);
        EXPECT_EQ("QZ Sample Agent", package["productName"]);
        EXPECT_EQ(Text(folder.facts.packages[i].file), package["file"]);

        const Json& rule = part["detection"]["rules"][i];
        EXPECT_EQ(architectures[i], rule["architecture"]);
        EXPECT_EQ(Text(description.productCode), rule["productCode"]);
        EXPECT_EQ("2.5.1", rule["productVersion"]);
    }
    EXPECT_NE(std::string::npos, part["detection"]["advice"].get<std::string>().find("per architecture"));
}

// The command after `label` in the manual's Intune recipe.
std::string RecipeCommand(const std::string& manual, const std::string& label) {
    const std::size_t recipe = manual.find("\n### Intune (Win32 app)\n");
    const std::size_t at = manual.find("\n" + label, recipe);
    if (recipe == std::string::npos || at == std::string::npos)
        return "(no " + label + " in the manual's Intune recipe)";
    const std::size_t command = manual.find("qz-setup.exe ", at);
    return manual.substr(command, manual.find('\n', command) - command);
}

TEST(DeploymentPart, TheCommandsAreTheManualsRecipes) {
    Folder folder({Description(L"x64")}, L"Sample Agent");
    std::vector<std::wstring> placeholders;
    const Json part = DeploymentPart(folder.facts, VariableMap(), placeholders);
    const std::string manual = ReadFileBytes(SourcePath(L"MANUAL.md"));
    EXPECT_EQ(RecipeCommand(manual, "Install command:"), part["commands"]["install"]);
    EXPECT_EQ(RecipeCommand(manual, "Uninstall command:"), part["commands"]["uninstall"]);
}

TEST(DeploymentPart, OnePackageNeedsOneRuleAndANameMayHoldQuotes) {
    Folder folder({Description(L"x64")}, L"Agent \"Pro\" 2\\");
    std::vector<std::wstring> placeholders;
    const Json part = DeploymentPart(folder.facts, VariableMap(), placeholders);
    EXPECT_EQ(1u, part["detection"]["rules"].size());
    EXPECT_EQ(std::string::npos, part["detection"]["advice"].get<std::string>().find("per architecture"));
    // Quoted as a Windows program's command line reads it; the log folder as the default log's name.
    EXPECT_EQ(
        "qz-setup.exe /p \"Agent \\\"Pro\\\" 2\\\\\" /l \"%SystemRoot%\\Logs\\Agent _Pro_ 2_\\setup.log\" /e "
        "\"%SystemRoot%\\Logs\\Agent _Pro_ 2_\\exit.txt\" QZ_SETUP_EXIT_CODE=INSTALLER "
        "QZ_SETUP_BUSY_WAIT=600",
        part["commands"]["install"]);
}

TEST(DeploymentPart, ReturnCodesFollowTheInstallerExitCodes) {
    std::vector<std::wstring> placeholders;
    const Json part = DeploymentPart(DeploymentFacts(), VariableMap(), placeholders);
    struct Expected {
        int code;
        const char* intune;
        const char* configurationManager;
    };
    const Expected expected[] = {
        {0, "Success", "Success"},
        {1707, "Success", "Success"},
        {3010, "Soft reboot", "Soft Reboot"},
        {1641, "Hard reboot", "Hard Reboot"},
        {1618, "Retry", "Fast Retry"},
        {1602, "Failed", "Failure"},
        {1603, "Failed", "Failure"},
        {1619, "Failed", "Failure"},
        {1624, "Failed", "Failure"},
        {30665, "Failed", "Failure"},
    };
    std::set<int> seen;
    for (const Json& entry : part["returnCodes"])
        EXPECT_TRUE(seen.insert(entry["code"].get<int>()).second) << entry["code"];
    for (const Expected& code : expected) {
        SCOPED_TRACE(code.code);
        bool found = false;
        for (const Json& entry : part["returnCodes"]) {
            if (entry["code"] != code.code)
                continue;
            found = true;
            EXPECT_EQ(code.intune, entry["intune"]);
            EXPECT_EQ(code.configurationManager, entry["configurationManager"]);
        }
        EXPECT_TRUE(found);
    }
    EXPECT_EQ("Failed", part["otherReturnCodes"]["intune"]);
}

// The placeholders: every field the publisher has not given, or has given
// in a form that winget's schema refuses; none once all are given.
TEST(DeploymentPart, PlaceholdersAreListedUntilTheValuesAreGiven) {
    Folder folder({Description(L"x64")}, L"Sample Agent");
    const std::wstring zip = folder.dir / L"sample-agent.zip";
    WriteFileBytes(zip, "PK\x05\x06" + std::string(18, '\0'));

    VariableMap allGiven = kAllGiven;
    allGiven[L"QZ_SETUP_WINGET_ZIP"] = zip;
    VariableMap misfits = allGiven;
    misfits[L"QZ_SETUP_WINGET_ID"] = L"NoDotInIt";
    misfits[L"QZ_SETUP_WINGET_URL"] = L"ftp://downloads.example.com/a.zip";
    misfits[L"QZ_SETUP_WINGET_LICENSE"] = L"MI";
    misfits[L"QZ_SETUP_WINGET_ZIP"] = folder.dir / L"missing.zip";

    const struct {
        const char* name;
        VariableMap variables;
        std::vector<std::wstring> expected;
    } cases[] = {
        {"none given",
         VariableMap(),
         {L"PackageIdentifier", L"License", L"ShortDescription", L"InstallerUrl", L"InstallerSha256"}},
        {"all given", allGiven, {}},
        {"given, but refused by the schema",
         misfits,
         {L"PackageIdentifier", L"License", L"InstallerUrl", L"InstallerSha256"}},
        {"identifier part with a blank",
         [&] {
             VariableMap v = allGiven;
             v[L"QZ_SETUP_WINGET_ID"] = L"QZ Samples.Agent";
             return v;
         }(),
         {L"PackageIdentifier"}},
        {"identifier of nine parts",
         [&] {
             VariableMap v = allGiven;
             v[L"QZ_SETUP_WINGET_ID"] = L"a.b.c.d.e.f.g.h.i";
             return v;
         }(),
         {L"PackageIdentifier"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> placeholders{L"left over"};
        const Json part = DeploymentPart(folder.facts, c.variables, placeholders);
        EXPECT_EQ(c.expected, placeholders);
        EXPECT_EQ(c.expected.size(), part["winget"]["placeholders"].size());
        for (const std::wstring& field : placeholders)
            EXPECT_NE(std::wstring::npos, PlaceholderNote(field).find(field)) << PlaceholderNote(field);
    }

    std::vector<std::wstring> placeholders;
    const Json none = DeploymentPart(folder.facts, VariableMap(), placeholders);
    EXPECT_EQ("Publisher.Product", none["winget"]["packageIdentifier"]);
    EXPECT_EQ("https://example.invalid/setup.zip", none["winget"]["installerUrl"]);
    EXPECT_EQ(std::string(64, '0'), none["winget"]["installerSha256"]);
    EXPECT_EQ("QZ Samples Inc.", none["winget"]["publisher"]);
    EXPECT_EQ("QZ Sample Agent", none["winget"]["packageName"]);
    EXPECT_EQ("2.5.1", none["winget"]["packageVersion"]);

    const Json refused = DeploymentPart(folder.facts, misfits, placeholders);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, refused["winget"]["zip"]["error"]["code"]);
    EXPECT_EQ(
        L"The winget manifests hold a placeholder for InstallerSha256: QZ_SETUP_WINGET_ZIP is not given, "
        L"cannot be read or does not fit winget's manifest schema.",
        PlaceholderNote(L"InstallerSha256"));
}

// Digests as sha256sum gives them: an empty file, "abc", and 200000 bytes
// (several reads) of (i * 7) mod 251.
TEST(Sha256OfFile, MatchesSha256sum) {
    TempDir dir;
    std::string pattern;
    for (int i = 0; i < 200000; ++i)
        pattern += static_cast<char>((i * 7) % 251);
    const struct {
        std::string content;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {pattern, "ff41b7e9cc397e9de1484b9ba8bd73b47c1bdfbc363d738bde401789cca5ef56"},
    };
    for (const auto& c : cases) {
        const std::wstring file = dir / L"data.zip";
        WriteFileBytes(file, c.content);
        std::string digest;
        DWORD error = 0;
        ASSERT_TRUE(Sha256OfFile(file, digest, error)) << error;
        EXPECT_EQ(c.digest, digest);
    }
    std::string digest;
    DWORD error = 0;
    EXPECT_FALSE(Sha256OfFile(dir / L"absent.zip", digest, error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);
    EXPECT_FALSE(Sha256OfFile(dir.path(), digest, error)) << "a folder is no zip";
    EXPECT_FALSE(Sha256OfFile(L"NUL", digest, error)) << "a device is no zip";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), error);
}

TEST(WingetManifests, OneInstallerEntryPerArchitectureAndEarlierManifestsGo) {
    Folder folder({Description(L"Intel"), Description(L"x64"), Description(L"Arm64")}, L"Sample Agent");
    const std::wstring plan = folder.dir / L"check.json";
    const std::wstring winget = folder.dir / L"check.json.winget\\";
    // An earlier check's manifests, of a placeholder identifier.
    CreateDirectoryW((folder.dir / L"check.json.winget").c_str(), nullptr);
    WriteFileBytes(winget + L"Publisher.Product.yaml", "stale");
    WriteFileBytes(winget + L"notes.txt", "kept");

    DWORD error = 0;
    ASSERT_TRUE(WriteWingetManifests(plan, folder.facts, kAllGiven, error)) << error;
    EXPECT_FALSE(PathExists(winget + L"Publisher.Product.yaml"));
    EXPECT_EQ("kept", ReadFileBytes(winget + L"notes.txt"));
    EXPECT_TRUE(PathExists(winget + L"QZSamples.SampleAgent.yaml"));
    EXPECT_TRUE(PathExists(winget + L"QZSamples.SampleAgent.locale.en-US.yaml"));
    const std::string installer = ReadFileBytes(winget + L"QZSamples.SampleAgent.installer.yaml");
    for (const char* architecture : {"x86", "x64", "arm64"})
        EXPECT_NE(std::string::npos, installer.find(std::string("  - Architecture: ") + architecture + "\n"))
            << architecture;
    for (const PackageSpec& description : folder.descriptions) {
        EXPECT_NE(std::string::npos,
                  installer.find("    ProductCode: \"" + Text(description.productCode) + "\"\n"));
        EXPECT_NE(std::string::npos,
                  installer.find("        UpgradeCode: \"" + Text(description.upgradeCode) + "\"\n"));
    }
    EXPECT_NE(std::string::npos, installer.find("InstallerType: zip\nNestedInstallerType: exe\n"));
    EXPECT_NE(std::string::npos, installer.find("      Silent: \"/p \\\"Sample Agent\\\" /l "));
}

TEST(WingetManifests, AFolderThatCannotBeHadIsReportedWithTheSystemsError) {
    Folder folder({Description(L"x64")}, L"Sample Agent");
    const std::wstring plan = folder.dir / L"check.json";
    {
        // Another program has the manifests' folder open for deletion.
        const UniqueFileHandle held = HeldForDeletion(plan + L".winget");
        ASSERT_TRUE(held.valid());
        DWORD error = 0;
        EXPECT_FALSE(WriteWingetManifests(plan, folder.facts, kAllGiven, error));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
        EXPECT_FALSE(PathExists(plan + L".winget\\QZSamples.SampleAgent.yaml"));
    }
    const struct {
        const char* name;
        std::wstring plan;
        DWORD error;
    } cases[] = {
        {"the plan's folder is missing", folder.dir / L"missing\\check.json", ERROR_PATH_NOT_FOUND},
        {"a file stands at the folder's name", folder.dir / L"file.json", ERROR_PATH_NOT_FOUND},
    };
    WriteFileBytes(folder.dir / L"file.json.winget", "a file");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD error = 0;
        EXPECT_FALSE(WriteWingetManifests(c.plan, folder.facts, kAllGiven, error));
        EXPECT_EQ(c.error, error);
    }
    EXPECT_FALSE(PathExists(folder.dir / L"missing"));
}

// Manifests for the schema check on the Linux side (QZ_WINGET_SAMPLES names
// its folder there); elsewhere they go to a scratch folder and are only read back.
TEST(WingetManifests, SamplesForTheSchemaCheck) {
    TempDir scratch;
    std::wstring out = scratch.path();
    wchar_t linux[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QZ_WINGET_SAMPLES", linux, MAX_PATH)) {
        out = L"Z:" + std::wstring(linux) + L"\\";
        for (wchar_t& c : out)
            if (c == L'/')
                c = L'\\';
        RemoveTree(out);
        ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr)) << GetLastError();
    }

    PackageSpec awkward = Description(L"x64", L"10.0.19041");
    awkward.productName = L"Agent: \"Pro\" \\ #1 – édition {x} & 'y'";
    const struct {
        const wchar_t* name;
        std::vector<PackageSpec> descriptions;
        bool given;
        std::wstring packageName;
    } samples[] = {
        {L"placeholders",
         {Description(L"Intel"), Description(L"x64"), Description(L"Arm64")},
         false,
         L"Sample Agent"},
        {L"given", {Description(L"x64")}, true, L"Sample Agent"},
        {L"awkward", {awkward}, false, L"Agent: \"Pro\""},
    };
    for (const auto& sample : samples) {
        SCOPED_TRACE(ToUtf8(sample.name));
        Folder folder(sample.descriptions, sample.packageName);
        if (std::wstring(sample.name) == L"awkward") // as no package builder writes it
            folder.facts.packages[0].manufacturer = L"Ünïcode & Co.\tLtd\r\n- key: \x85\u2028 end";
        VariableMap variables;
        if (sample.given) {
            variables = kAllGiven;
            variables[L"QZ_SETUP_WINGET_ZIP"] = out + sample.name + L".zip";
            WriteFileBytes(out + sample.name + L".zip", "PK\x05\x06" + std::string(18, '\0') + "sample");
        }
        DWORD error = 0;
        ASSERT_TRUE(WriteWingetManifests(out + sample.name + L".json", folder.facts, variables, error))
            << error;
        // What the schema check compares the manifests with.
        std::vector<std::wstring> placeholders;
        Json expected = DeploymentPart(folder.facts, variables, placeholders)["winget"];
        Json codes = Json::array();
        for (const ShippedPackage& package : folder.facts.packages)
            codes.push_back({{"architecture", ToUtf8(package.architecture)},
                             {"productCode", ToUtf8(package.productCode)},
                             {"upgradeCode", ToUtf8(package.upgradeCode)}});
        expected["installers"] = codes;
        WriteFileBytes(out + sample.name + L".expected.json", expected.dump(2));
        EXPECT_TRUE(PathExists(out + sample.name + L".json.winget\\" +
                               FromUtf8(expected["files"][0].get<std::string>())));
    }
}

} // namespace
