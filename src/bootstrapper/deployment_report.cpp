#include "bootstrapper/deployment_report.h"

#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "bootstrapper/run_sequence.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "planning/derived_settings.h"
#include "resources/resource_ids.h"
#include "system/file_hash.h"
#include "system/own_files.h"
#include "system/win_owners.h"

using Json = nlohmann::ordered_json;

namespace {

const char* const kManifestVersion = "1.10.0";
const char* const kLocale = "en-US";
// "Installation operation completed successfully.": an installer code that
// winerror.h names otherwise (the number is shared with an RPC error).
constexpr int kInstallSucceeded = 1707;

std::wstring SystemText(DWORD error) {
    return SystemErrorReason(error);
}

// ---------------------------------------------------------------- the recipes

// An argument as the command line of a Windows program reads it: in double
// quotes, a quote inside escaped, and backslashes before a quote doubled.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// The name the recipes give the folder of the log and the exit file: the
// package name as the default log's name holds it (the product name of the
// first package when the name is empty).
std::wstring RecipeFolderName(const DeploymentFacts& facts) {
    std::wstring name = facts.packageName;
    if (name.empty() && !facts.packages.empty())
        name = facts.packages.front().productName;
    return LogFileNamePart(name);
}

// The arguments of the recipes' install or uninstall command, after "qz-setup.exe".
std::wstring RecipeArguments(const DeploymentFacts& facts, bool uninstall) {
    const std::wstring folder = L"%SystemRoot%\\Logs\\" + RecipeFolderName(facts) + L"\\";
    std::wstring arguments = L"/p " + Quoted(facts.packageName);
    if (uninstall)
        arguments += std::wstring(L" ") + QZ_SETUP_MODE + L"=" + g_setupModeNames[UNATTENDED_UNINSTALL];
    arguments += L" /l " + Quoted(folder + (uninstall ? L"remove.log" : L"setup.log"));
    arguments += L" /e " + Quoted(folder + L"exit.txt");
    arguments += std::wstring(L" ") + QZ_SETUP_EXIT_CODE + L"=" + EXIT_CODE_INSTALLER;
    arguments += std::wstring(L" ") + QZ_SETUP_BUSY_WAIT + L"=600";
    return arguments;
}

// ---------------------------------------------------------------- return codes

Json ReturnCode(int code, const char* intune, const char* configurationManager, const char* when) {
    Json entry;
    entry["code"] = code;
    entry["intune"] = intune;
    entry["configurationManager"] = configurationManager;
    entry["when"] = when;
    return entry;
}

// The codes qz-setup.exe ends with under QZ_SETUP_EXIT_CODE=INSTALLER, and
// how Intune and Configuration Manager are to read each.
Json ReturnCodes() {
    const struct {
        int code;
        const char* intune;
        const char* configurationManager;
        const char* when;
    } kCodes[] = {
        {InstallerExitCode(RunEnd::InstallerCalled, ERROR_SUCCESS), "Success", "Success",
         "installed, repaired or removed"},
        {ERROR_SUCCESS_REBOOT_REQUIRED, "Soft reboot", "Soft Reboot",
         "installed; a restart finishes it (asked for by the package, or by the redistributable installed "
         "before "
         "it)"},
        {ERROR_SUCCESS_REBOOT_INITIATED, "Hard reboot", "Hard Reboot",
         "installed, and the installer restarts the machine: only when QZ_SUPPRESS_REBOOT lets it (by "
         "default "
         "restarts are suppressed)"},
        {InstallerExitCode(RunEnd::FileInUse, 0), "Retry", "Fast Retry",
         "another installation was running (still after QZ_SETUP_BUSY_WAIT), or a file of the folder was "
         "open "
         "for writing in another program"},
        {kInstallSucceeded, "Success", "Success", "the installer's own success code, handed on"},
        {InstallerExitCode(RunEnd::UserCancelled, 0), "Failed", "Failure",
         "cancelled: by the user, or by the installer"},
        {InstallerExitCode(RunEnd::Failed, 0), "Failed", "Failure",
         "the installation failed, or the run ended early (a refused setting, control or response file, an "
         "error "
         "of the system)"},
        {InstallerExitCode(RunEnd::PackageNotFound, 0), "Failed", "Failure",
         "no package for this machine's processor, or the package file is missing"},
        {InstallerExitCode(RunEnd::TransformFailed, 0), "Failed", "Failure",
         "a transform to install with is missing, unreadable or does not apply"},
        {InstallerExitCode(RunEnd::CommandLineRefused, 0), "Failed", "Failure",
         "the command line was refused (an option without its value)"},
    };
    Json codes = Json::array();
    for (const auto& code : kCodes)
        codes.push_back(ReturnCode(code.code, code.intune, code.configurationManager, code.when));
    return codes;
}

// ---------------------------------------------------------------- detection

Json Detection(const DeploymentFacts& facts) {
    Json detection;
    Json rules = Json::array();
    for (const ShippedPackage& package : facts.packages) {
        Json rule;
        rule["architecture"] = EncodeUtf8(package.architecture);
        rule["method"] = "Windows Installer";
        rule["productCode"] = EncodeUtf8(package.productCode);
        rule["productVersion"] = EncodeUtf8(package.productVersion);
        rule["versionOperator"] = "greaterThanOrEqual";
        rules.push_back(std::move(rule));
    }
    detection["rules"] = rules;
    if (facts.packages.size() > 1)
        detection["advice"] =
            "The folder holds one package per architecture, each with its own product code, "
            "and qz-setup.exe installs the one of the machine's processor (the plans for each "
            "processor show which). Give each architecture a rule set of its own: an app "
            "(Intune) or a deployment type (Configuration Manager) per architecture, with that "
            "package's product code as its detection rule and a requirement rule on the "
            "operating system's architecture; or one app whose detection accepts any of the "
            "product codes.";
    else if (facts.packages.size() == 1)
        detection["advice"] = "The folder holds one package: one detection rule, its product code.";
    else
        detection["advice"] = "The folder holds no package: there is nothing to detect.";
    return detection;
}

// ---------------------------------------------------------------- winget values

// Lengths as the manifest schema counts them: in characters.
std::size_t Characters(const std::wstring& text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] >= 0xDC00 && text[i] <= 0xDFFF && i > 0 && text[i - 1] >= 0xD800 &&
              text[i - 1] <= 0xDBFF))
            ++count;
    return count;
}

bool HasControl(const std::wstring& text) {
    for (const wchar_t c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool TextFits(const std::wstring& text, std::size_t least, std::size_t most) {
    const std::size_t length = Characters(text);
    return length >= least && length <= most;
}

// Two to eight parts separated by dots, each of 1 to 32 characters, none a
// blank, a control character or one of \ / : * ? " < > |.
bool IdentifierFits(const std::wstring& identifier) {
    if (Characters(identifier) > 128)
        return false;
    std::size_t parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = identifier.find(L'.', start);
        const std::wstring part = identifier.substr(start, dot == std::wstring::npos ? dot : dot - start);
        if (!TextFits(part, 1, 32) || HasControl(part))
            return false;
        for (const wchar_t c : part)
            if (std::iswspace(c) || std::wcschr(L"\\/:*?\"<>|", c))
                return false;
        ++parts;
        if (dot == std::wstring::npos)
            break;
        start = dot + 1;
    }
    return parts >= 2 && parts <= 8;
}

bool VersionFits(const std::wstring& version) {
    if (!TextFits(version, 1, 128) || HasControl(version))
        return false;
    for (const wchar_t c : version)
        if (std::wcschr(L"\\/:*?\"<>|", c))
            return false;
    return true;
}

bool UrlFits(const std::wstring& url) {
    const auto startsWith = [&](const wchar_t* scheme) {
        const std::size_t length = wcslen(scheme);
        return url.size() > length && CompareStringOrdinal(url.c_str(), static_cast<int>(length), scheme,
                                                           static_cast<int>(length), TRUE) == CSTR_EQUAL;
    };
    return (startsWith(L"http://") || startsWith(L"https://")) && TextFits(url, 1, 2048) && !HasControl(url);
}

// The values of the manifests, each from its source or a placeholder.
struct WingetValues {
    std::string identifier, version, publisher, name, license, description, url, sha256;
    std::wstring zip;                       // the zip named, expanded as the settings are
    DWORD zipError = ERROR_SUCCESS;         // why its digest could not be made
    std::vector<std::wstring> placeholders; // the fields left as placeholders, in manifest order
};

WingetValues ResolveWinget(const DeploymentFacts& facts, const VariableMap& variables) {
    WingetValues values;
    const ShippedPackage none;
    const ShippedPackage& first = facts.packages.empty() ? none : facts.packages.front();
    auto take = [&](std::string& slot, const wchar_t* field, const std::wstring& given, bool fits,
                    const char* placeholder) {
        if (fits) {
            slot = EncodeUtf8(given);
        } else {
            slot = placeholder;
            values.placeholders.push_back(field);
        }
    };
    const std::wstring identifier = VariableValue(variables, QZ_SETUP_WINGET_ID);
    take(values.identifier, L"PackageIdentifier", identifier, IdentifierFits(identifier),
         "Publisher.Product");
    take(values.version, L"PackageVersion", first.productVersion, VersionFits(first.productVersion), "0.0.0");
    take(values.publisher, L"Publisher", first.manufacturer, TextFits(first.manufacturer, 2, 256),
         "Placeholder: set the packages' Manufacturer");
    take(values.name, L"PackageName", first.productName, TextFits(first.productName, 2, 256),
         "Placeholder: set the packages' ProductName");
    const std::wstring license = VariableValue(variables, QZ_SETUP_WINGET_LICENSE);
    take(values.license, L"License", license, TextFits(license, 3, 512),
         "Placeholder: set QZ_SETUP_WINGET_LICENSE");
    const std::wstring description = VariableValue(variables, QZ_SETUP_WINGET_DESCRIPTION);
    take(values.description, L"ShortDescription", description, TextFits(description, 3, 256),
         "Placeholder: set QZ_SETUP_WINGET_DESCRIPTION");
    const std::wstring url = VariableValue(variables, QZ_SETUP_WINGET_URL);
    take(values.url, L"InstallerUrl", url, UrlFits(url), "https://example.invalid/setup.zip");

    values.zip = VariableValue(variables, QZ_SETUP_WINGET_ZIP);
    std::string digest;
    if (!values.zip.empty() && !Sha256OfFile(values.zip, digest, values.zipError) &&
        values.zipError == ERROR_SUCCESS)
        values.zipError = ERROR_READ_FAULT;
    if (!digest.empty()) {
        values.sha256 = digest;
    } else {
        values.sha256 = std::string(64, '0');
        values.placeholders.push_back(L"InstallerSha256");
    }
    return values;
}

// The source of a placeholder's value, for message 181.
const wchar_t* SourceOf(const std::wstring& field) {
    static const struct {
        const wchar_t* field;
        const wchar_t* source;
    } kSources[] = {
        {L"PackageIdentifier", QZ_SETUP_WINGET_ID},
        {L"PackageVersion", L"ProductVersion"},
        {L"Publisher", L"Manufacturer"},
        {L"PackageName", L"ProductName"},
        {L"License", QZ_SETUP_WINGET_LICENSE},
        {L"ShortDescription", QZ_SETUP_WINGET_DESCRIPTION},
        {L"InstallerUrl", QZ_SETUP_WINGET_URL},
        {L"InstallerSha256", QZ_SETUP_WINGET_ZIP},
    };
    for (const auto& source : kSources)
        if (field == source.field)
            return source.source;
    return L"";
}

// ---------------------------------------------------------------- YAML

// A double-quoted YAML scalar: backslash and quote escaped, every control
// character and line break written as an escape, so that no value can end
// the scalar or start another key.
std::string Yaml(const std::string& utf8) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string quoted = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            quoted += "\\x";
            quoted += kHex[c >> 4];
            quoted += kHex[c & 0x0F];
        } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0x85) {
            quoted += "\\N"; // U+0085, a line break to YAML
            ++i;
        } else if (c == 0xE2 && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(utf8[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(utf8[i + 2]) == 0xA9)) {
            quoted += static_cast<unsigned char>(utf8[i + 2]) == 0xA8 ? "\\L" : "\\P"; // U+2028, U+2029
            i += 2;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

// Appends "<indent><key>: <value>\n".
void Field(std::string& text, const char* key, const std::string& value) {
    text += key;
    text += ": ";
    text += value;
    text += '\n';
}

std::string Header(const char* type) {
    std::string text = "# Written by qz-setup's folder check from the folder's packages.\n"
                       "# yaml-language-server: $schema=https://aka.ms/winget-manifest.";
    text += type;
    text += ".";
    text += kManifestVersion;
    text += ".schema.json\n\n";
    return text;
}

// The start every manifest shares: its header, the identifier and the version.
std::string Start(const char* type, const WingetValues& values) {
    std::string text = Header(type);
    Field(text, "PackageIdentifier", Yaml(values.identifier));
    Field(text, "PackageVersion", Yaml(values.version));
    return text;
}

std::string End(std::string text, const char* type) {
    Field(text, "ManifestType", type);
    Field(text, "ManifestVersion", kManifestVersion);
    return text;
}

std::string VersionManifest(const WingetValues& values) {
    std::string text = Start("version", values);
    Field(text, "DefaultLocale", kLocale);
    return End(std::move(text), "version");
}

std::string LocaleManifest(const WingetValues& values) {
    std::string text = Start("defaultLocale", values);
    Field(text, "PackageLocale", kLocale);
    Field(text, "Publisher", Yaml(values.publisher));
    Field(text, "PackageName", Yaml(values.name));
    Field(text, "License", Yaml(values.license));
    Field(text, "ShortDescription", Yaml(values.description));
    return End(std::move(text), "defaultLocale");
}

// The return codes winget is told of, with QZ_SETUP_EXIT_CODE=INSTALLER.
const struct {
    const char* code;
    const char* response;
} kExpectedReturnCodes[] = {
    {"1602", "cancelledByUser"},        {"1618", "installInProgress"}, {"1619", "invalidParameter"},
    {"1633", "systemNotSupported"},     {"1638", "alreadyInstalled"},  {"1641", "rebootInitiated"},
    {"3010", "rebootRequiredToFinish"},
};

std::string InstallerManifest(const WingetValues& values, const DeploymentFacts& facts) {
    const std::string silent = Yaml(EncodeUtf8(RecipeArguments(facts, false)));
    std::string text = Start("installer", values);
    text += "InstallerType: zip\nNestedInstallerType: exe\nNestedInstallerFiles:\n"
            "  - RelativeFilePath: qz-setup.exe\nInstallers:\n";
    for (const ShippedPackage& package : facts.packages) {
        Field(text, "  - Architecture", EncodeUtf8(package.architecture));
        Field(text, "    InstallerUrl", Yaml(values.url));
        Field(text, "    InstallerSha256", Yaml(values.sha256)); // all digits would read as a number
        text += "    Scope: machine\n    ElevationRequirement: elevatesSelf\n    InstallerSwitches:\n";
        Field(text, "      Silent", silent);
        Field(text, "      SilentWithProgress", silent);
        text += "    ExpectedReturnCodes:\n";
        for (const auto& expected : kExpectedReturnCodes) {
            Field(text, "      - InstallerReturnCode", expected.code);
            Field(text, "        ReturnResponse", expected.response);
        }
        if (package.productCode.empty() && package.upgradeCode.empty())
            continue;
        if (!package.productCode.empty())
            Field(text, "    ProductCode", Yaml(EncodeUtf8(package.productCode)));
        text += "    AppsAndFeaturesEntries:\n";
        if (!package.productCode.empty())
            Field(text, "      - ProductCode", Yaml(EncodeUtf8(package.productCode)));
        if (!package.upgradeCode.empty())
            Field(text, package.productCode.empty() ? "      - UpgradeCode" : "        UpgradeCode",
                  Yaml(EncodeUtf8(package.upgradeCode)));
    }
    return End(std::move(text), "installer");
}

// The three files of the multi-file form, named as winget's own repository names them.
struct ManifestFile {
    std::wstring name;
    std::string text;
};

// The names of the version, installer and default locale manifests.
std::vector<std::wstring> ManifestNames(const WingetValues& values) {
    const std::wstring identifier = DecodeUtf8(values.identifier);
    return {identifier + L".yaml", identifier + L".installer.yaml", identifier + L".locale.en-US.yaml"};
}

std::vector<ManifestFile> Manifests(const WingetValues& values, const DeploymentFacts& facts) {
    const std::vector<std::wstring> names = ManifestNames(values);
    return {{names[0], VersionManifest(values)},
            {names[1], InstallerManifest(values, facts)},
            {names[2], LocaleManifest(values)}};
}

bool EndsWithYaml(const wchar_t* name) {
    const std::size_t length = wcslen(name);
    return length >= 5 && CompareStringOrdinal(name + length - 5, 5, L".yaml", 5, TRUE) == CSTR_EQUAL;
}

// Removes the manifests of an earlier check from `folder` (held by the caller).
DWORD RemoveEarlierManifests(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search.valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !EndsWithYaml(found.cFileName))
            continue;
        const DWORD error = RemoveOwnName((folder + L"\\" + found.cFileName).c_str());
        if (error != ERROR_SUCCESS)
            return error;
    } while (FindNextFileW(search.get(), &found));
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

} // namespace

Json DeploymentPart(const DeploymentFacts& facts, const VariableMap& variables,
                    std::vector<std::wstring>& placeholders) {
    Json part;
    part["packageName"] = EncodeUtf8(facts.packageName);
    Json packages = Json::array();
    for (const ShippedPackage& package : facts.packages) {
        Json entry;
        entry["architecture"] = EncodeUtf8(package.architecture);
        entry["productCode"] = EncodeUtf8(package.productCode);
        entry["upgradeCode"] = package.upgradeCode.empty() ? Json() : Json(EncodeUtf8(package.upgradeCode));
        entry["productVersion"] = EncodeUtf8(package.productVersion);
        entry["productName"] = EncodeUtf8(package.productName);
        entry["manufacturer"] = EncodeUtf8(package.manufacturer);
        entry["file"] = EncodeUtf8(package.file);
        packages.push_back(std::move(entry));
    }
    part["packages"] = packages;
    Json commands;
    commands["install"] = "qz-setup.exe " + EncodeUtf8(RecipeArguments(facts, false));
    commands["uninstall"] = "qz-setup.exe " + EncodeUtf8(RecipeArguments(facts, true));
    part["commands"] = commands;
    part["returnCodes"] = ReturnCodes();
    Json other;
    other["intune"] = "Failed";
    other["configurationManager"] = "Failure";
    part["otherReturnCodes"] = other;
    part["detection"] = Detection(facts);

    const WingetValues values = ResolveWinget(facts, variables);
    Json winget;
    winget["manifestVersion"] = kManifestVersion;
    Json files = Json::array();
    for (const std::wstring& name : ManifestNames(values))
        files.push_back(EncodeUtf8(name));
    winget["files"] = files;
    winget["packageIdentifier"] = values.identifier;
    winget["packageVersion"] = values.version;
    winget["publisher"] = values.publisher;
    winget["packageName"] = values.name;
    winget["license"] = values.license;
    winget["shortDescription"] = values.description;
    winget["installerUrl"] = values.url;
    winget["installerSha256"] = values.sha256;
    Json zip;
    if (!values.zip.empty()) {
        zip["file"] = EncodeUtf8(values.zip);
        if (values.zipError != ERROR_SUCCESS) {
            Json error;
            error["code"] = values.zipError;
            error["text"] = EncodeUtf8(SystemText(values.zipError));
            zip["error"] = error;
        }
    }
    winget["zip"] = zip;
    winget["silentSwitches"] = EncodeUtf8(RecipeArguments(facts, false));
    Json fields = Json::array();
    for (const std::wstring& field : values.placeholders)
        fields.push_back(EncodeUtf8(field));
    winget["placeholders"] = fields;
    part["winget"] = winget;
    placeholders = values.placeholders;
    return part;
}

std::wstring WingetFolderPath(const std::wstring& planPath) {
    return planPath + L".winget";
}

bool WriteWingetManifests(const std::wstring& planPath, const DeploymentFacts& facts,
                          const VariableMap& variables, DWORD& error) {
    const std::wstring folder = WingetFolderPath(planPath);
    const WingetValues values = ResolveWinget(facts, variables);
    const std::vector<ManifestFile> manifests = Manifests(values, facts);
    if (facts.packages.empty()) {
        error = ERROR_FILE_NOT_FOUND; // no installer entry: no manifest winget would take
        return false;
    }

    // The plan's folder must be there, as for the plan itself; the manifests'
    // folder is made when it is missing. Both stay held until the files are written.
    HeldFolders planFolders;
    error = HoldFolders(planPath.c_str(), MissingFolders::Leave, planFolders);
    if (error == ERROR_SUCCESS && !planFolders.complete())
        error = ERROR_PATH_NOT_FOUND;
    if (error != ERROR_SUCCESS)
        return false;
    HeldFolders held;
    error = HoldFolders((folder + L"\\" + manifests.front().name).c_str(), MissingFolders::Create, held);
    if (error == ERROR_SUCCESS && !held.complete())
        error = ERROR_PATH_NOT_FOUND;
    if (error == ERROR_SUCCESS)
        error = RemoveEarlierManifests(folder);
    if (error != ERROR_SUCCESS)
        return false;

    std::vector<UniqueFileHandle> written;
    auto discardAll = [&]() {
        for (const UniqueFileHandle& file : written)
            DiscardOwnFile(file.get());
    };
    for (const ManifestFile& manifest : manifests) {
        bool nameHeld = false;
        UniqueFileHandle file = CreateOwnFile((folder + L"\\" + manifest.name).c_str(),
                                              GENERIC_WRITE | DELETE, FILE_SHARE_READ, error, nameHeld);
        if (!file.valid()) {
            discardAll();
            return false;
        }
        DWORD count = 0;
        if (!WriteFile(file.get(), manifest.text.data(), static_cast<DWORD>(manifest.text.size()), &count,
                       nullptr) ||
            count != manifest.text.size()) {
            error = GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
            DiscardOwnFile(file.get());
            discardAll();
            return false;
        }
        written.push_back(std::move(file));
    }
    error = ERROR_SUCCESS;
    return true;
}

std::wstring PlaceholderNote(const std::wstring& field) {
    std::wstring text;
    FormatResourceMessage(IDS_WINGET_PLACEHOLDER, text, field, std::wstring(SourceOf(field)));
    return text;
}

const wchar_t* WingetArchitecture(DWORD platform) {
    switch (platform) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return L"x86";
    case PROCESSOR_ARCHITECTURE_AMD64:
        return L"x64";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return L"arm64";
    default:
        return nullptr;
    }
}
