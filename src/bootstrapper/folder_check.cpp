#include "bootstrapper/folder_check.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bootstrapper/deployment_report.h"
#include "bootstrapper/plan_report.h"
#include "system/errors.h"
#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "language/lang_catalogue.h"
#include "language/language_choice.h"
#include "msi/package.h"
#include "msi/package_properties.h"
#include "msi/transform_reader.h"
#include "planning/assumed_machine.h"
#include "planning/hidden_values.h"
#include "planning/install_plan.h"
#include "planning/package_location.h"
#include "system/machine_queries.h"
#include "system/path_helpers.h"

using Json = nlohmann::ordered_json;

namespace {

constexpr LANGID kEnglish = 1033;

// The text of a failure to read a file, without its line end.
std::wstring FailureText(const std::exception& failure) {
    if (const auto* described = dynamic_cast<const DescribedFailure*>(&failure))
        return described->Text();
    if (const auto* win = dynamic_cast<const WinException*>(&failure))
        return SystemErrorReason(win->GetError());
    std::wstring text(failure.what(), failure.what() + std::char_traits<char>::length(failure.what()));
    TrimLineEnds(text);
    return text;
}

// The names of `pattern`'s files (not folders), in listing order; none
// when the folder cannot be listed.
std::vector<std::wstring> FilesOf(const std::wstring& directory, const wchar_t* pattern) {
    FileList names;
    try {
        LoadFileList(directory + pattern, names);
    } catch (const WinException&) {
        return {};
    }
    std::vector<std::wstring> files;
    for (const std::wstring& name : names) {
        const DWORD attributes = GetFileAttributesW((directory + name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(directory + name);
    }
    return files;
}

// A package of the folder as the check read it.
struct FolderPackage {
    std::wstring file;
    bool readable = false;
    std::wstring productName;
    DWORD platform = 0;
};

// A transform of the folder as the check read it.
struct FolderTransform {
    std::wstring file;
    bool readable = false;
    LANGID language = 0; // 0: it sets no ProductLanguage
};

class Checker {
public:
    explicit Checker(RunResult& result) : m_result(result) {}

    void Run() {
        // English first, for each processor: these plans also say where the
        // packages, transforms and help files are.
        for (const DWORD processor : g_plannedProcessors)
            m_check.packages.push_back(Plan(processor, kEnglish));
        m_check.languages.push_back(kEnglish);
        ReadFolder();
        for (const LANGID language : OtherLanguages()) {
            m_check.languages.push_back(language);
            for (const DWORD processor : g_plannedProcessors)
                Plan(processor, language);
        }
        FindUnreadableFiles();
        FindTransformsThatDoNotApply();
        FindVersionsThatDiffer();
        FindProcessorsWithoutPackage();
        FindSeveralMatches();
        FindLanguageGaps();
        FindPassedOverTexts();
        FindMissingRedistributables();
        FindUnhiddenPasswords();
        Json deployment = Deployment();
        Report(std::move(deployment));
    }

private:
    // The plan for one machine, made by the plan run's own code; the
    // package that machine takes.
    ArchitecturePackage Plan(DWORD processor, LANGID language) {
        const std::wstring setting =
            std::wstring(ProcessorDisplayName(processor)) + L":" + std::to_wstring(language);
        PlanRecord record;
        VariableMap variables;
        Json plan = PlanInProcess(setting, record, variables);
        m_plans.push_back({{"processor", EncodeUtf8(ProcessorDisplayName(processor))},
                           {"language", language},
                           {"setting", EncodeUtf8(setting)},
                           {"plan", std::move(plan)}});
        if (m_packageDir.empty()) {
            m_packageDir = VariableValue(variables, QZ_SETUP_PACKAGE_DIR);
            m_packageName = VariableValue(variables, QZ_SETUP_PACKAGE_NAME);
            m_transformDir = VariableValue(variables, QZ_SETUP_LANG_TRANSFORM_DIR);
            if (m_transformDir.empty())
                m_transformDir = GetModuleDir();
            m_byFile = record.origins.Find(QZ_SETUP_PACKAGE_FILE) &&
                       record.origins.Find(QZ_SETUP_PACKAGE_FILE)->givenBy != SettingOrigin::Derived;
        }
        ArchitecturePackage package;
        package.processor = processor;
        const auto file = variables.find(QZ_SETUP_PACKAGE_FILE);
        if (file == variables.end() || record.endMessage.id == IDS_PACKAGE_NOT_FOUND ||
            record.endMessage.id == IDS_NO_INSTALLATION_PACKAGE)
            return package;
        package.file = file->second;
        try {
            QZ::MSInstaller::Package opened = QZ::MSInstaller::Package::Open(package.file);
            package.platform = opened.Platform();
            package.productCode = opened.ProductCode();
            package.productVersion = opened.ProductVersion();
            package.productName = opened.ProductName();
            package.upgradeCode = opened.UpgradeCode();
            try {
                QZ::MSInstaller::GetPckgProperty(package.file, L"Manufacturer", package.manufacturer);
            } catch (const WinException&) {
                // A package without one: left empty.
            }
            package.found = true;
        } catch (const std::exception&) {
            // Named as a package that cannot be read.
        }
        return package;
    }

    // The packages and transforms of the folder, each read on its own.
    void ReadFolder() {
        const std::vector<std::wstring> packageFiles =
            m_byFile ? std::vector<std::wstring>{} : FilesOf(m_packageDir, L"*.msi");
        for (const std::wstring& file : packageFiles) {
            FolderPackage package;
            package.file = file;
            try {
                QZ::MSInstaller::Package opened = QZ::MSInstaller::Package::Open(file);
                package.productName = opened.ProductName();
                package.platform = opened.Platform();
                package.readable = true;
            } catch (const std::exception& failure) {
                Add(FolderFinding::Severity::Error, "package-unreadable",
                    L"Package " + file + L" cannot be read: " + FailureText(failure));
            }
            m_packages.push_back(std::move(package));
        }
        for (const ArchitecturePackage& chosen : m_check.packages)
            if (!chosen.file.empty() && !chosen.found && !Reported(chosen.file))
                Add(FolderFinding::Severity::Error, "package-unreadable",
                    L"Package " + chosen.file + L" cannot be read.");
        for (const std::wstring& file : FilesOf(m_transformDir, L"*.mst")) {
            FolderTransform transform;
            transform.file = file;
            try {
                std::wstring value;
                if (_GetTranPropVal(file, L"ProductLanguage", value))
                    transform.language = ParseLanguageValue(value);
                transform.readable = true;
            } catch (const std::exception& failure) {
                m_unreadable.push_back(L"Transform " + file + L" cannot be read: " + FailureText(failure));
            }
            m_transforms.push_back(std::move(transform));
        }
        m_helpLanguages = HelpFileLanguages({m_packageDir, GetModuleDir()}, m_packageName);
    }

    bool Reported(const std::wstring& file) const {
        for (const FolderPackage& package : m_packages)
            if (package.file == file)
                return !package.readable;
        return false;
    }

    // The user languages besides English that the folder offers, one for each
    // primary language: the transforms' first, then the help files'.
    std::vector<LANGID> OtherLanguages() const {
        std::vector<LANGID> languages;
        std::set<WORD> primaries{PrimaryLanguage(kEnglish)};
        for (const FolderTransform& transform : m_transforms)
            if (transform.language != 0 && primaries.insert(PrimaryLanguage(transform.language)).second)
                languages.push_back(transform.language);
        for (const LANGID language : m_helpLanguages)
            if (primaries.insert(PrimaryLanguage(language)).second)
                languages.push_back(language);
        return languages;
    }

    void FindUnreadableFiles() {
        for (const std::wstring& reason : m_unreadable)
            Add(FolderFinding::Severity::Error, "transform-unreadable", reason);
    }

    // Each language transform applied in memory to each package a machine
    // takes: a user of that language would be offered it with the package.
    void FindTransformsThatDoNotApply() {
        std::set<std::wstring> checked;
        for (const ArchitecturePackage& package : m_check.packages) {
            if (!package.found || !checked.insert(package.file).second)
                continue;
            for (const FolderTransform& transform : m_transforms) {
                if (!transform.readable || transform.language == 0)
                    continue;
                const UINT applied = ApplyTransformInMemory(package.file, transform.file);
                if (applied == ERROR_SUCCESS)
                    continue;
                const std::wstring text = SystemErrorReason(applied);
                Add(FolderFinding::Severity::Error, "transform-does-not-apply",
                    L"Transform " + transform.file + L" does not apply to package " + package.file + L" (" +
                        std::to_wstring(applied) + L": " + text + L").");
            }
        }
    }

    void FindVersionsThatDiffer() {
        std::wstring versions;
        std::set<std::wstring> seen;
        for (const ArchitecturePackage& package : m_check.packages) {
            if (!package.found)
                continue;
            seen.insert(package.productVersion);
            versions += (versions.empty() ? L"" : L", ") +
                        std::wstring(ProcessorDisplayName(package.processor)) + L" " + package.file + L" " +
                        package.productVersion;
        }
        if (seen.size() > 1)
            Add(FolderFinding::Severity::Error, "package-versions-differ",
                L"The packages of the processors have different versions: " + versions + L".");
    }

    void FindProcessorsWithoutPackage() {
        for (const ArchitecturePackage& package : m_check.packages)
            if (package.file.empty())
                Add(FolderFinding::Severity::Warning, "no-package-for-processor",
                    L"No package matches on a machine with the " +
                        std::wstring(ProcessorDisplayName(package.processor)) +
                        L" processor: the run ends there with message 124 and 130.");
    }

    // Packages whose name matches, of the platform a machine takes: which of
    // them comes first depends on the listing order, which is not guaranteed.
    void FindSeveralMatches() {
        for (const ArchitecturePackage& chosen : m_check.packages) {
            if (!chosen.found || m_byFile)
                continue;
            std::wstring files;
            unsigned count = 0;
            for (const FolderPackage& package : m_packages) {
                if (!package.readable || package.platform != chosen.platform ||
                    package.productName.find(m_packageName) == std::wstring::npos)
                    continue;
                ++count;
                files += (files.empty() ? L"" : L", ") + package.file;
            }
            if (count > 1)
                Add(FolderFinding::Severity::Warning, "several-packages-match",
                    L"On a machine with the " + std::wstring(ProcessorDisplayName(chosen.processor)) +
                        L" processor, " + std::to_wstring(count) + L" packages match: " + files +
                        L". The first listed wins, and the listing order is not guaranteed.");
        }
    }

    void FindLanguageGaps() {
        // By primary language: the first full language id met.
        std::map<WORD, LANGID> transformLanguages;
        for (const FolderTransform& transform : m_transforms) {
            if (!transform.readable)
                continue;
            if (transform.language == 0) {
                Add(FolderFinding::Severity::Warning, "transform-sets-no-language",
                    L"Transform " + transform.file +
                        L" sets no ProductLanguage: it is passed over (message 137) and never offered.");
                continue;
            }
            transformLanguages.emplace(PrimaryLanguage(transform.language), transform.language);
        }
        std::map<WORD, LANGID> helpLanguages;
        for (const LANGID language : m_helpLanguages)
            helpLanguages.emplace(PrimaryLanguage(language), language);
        // The packages' own languages need no transform.
        std::set<WORD> packageLanguages;
        for (const ArchitecturePackage& package : m_check.packages) {
            if (!package.found)
                continue;
            std::wstring value;
            try {
                QZ::MSInstaller::GetPckgProperty(package.file, L"ProductLanguage", value);
                packageLanguages.insert(PrimaryLanguage(ParseLanguageValue(value)));
            } catch (const WinException&) {
            }
        }
        for (const auto& [primary, language] : transformLanguages) {
            if (helpLanguages.count(primary))
                continue;
            // The help file's name holds a code only for the languages the
            // program has one for; the others get the English help.
            const std::vector<std::wstring> codes = GetUserLangCodes(language);
            const std::wstring named = codes.size() > 1
                                           ? L"no help file " + m_packageName + L"_" + codes.front()
                                           : std::wstring(L"no help file code of its own");
            Add(FolderFinding::Severity::Warning, "language-without-help",
                L"Language " + std::to_wstring(language) + L" (" + GetLanguageName(language) +
                    L") has a transform but " + named + L": its users see the help of another language.");
        }
        for (const auto& [primary, language] : helpLanguages)
            if (!transformLanguages.count(primary) && !packageLanguages.count(primary))
                Add(FolderFinding::Severity::Warning, "help-without-language",
                    L"Language " + std::to_wstring(language) + L" (" + GetLanguageName(language) +
                        L") has a help file but neither a transform nor a package of its own.");
    }

    void FindPassedOverTexts() {
        const std::vector<WORD> ids = ModuleTextsPassedOver();
        if (ids.empty())
            return;
        std::wstring list;
        for (const WORD id : ids)
            list += (list.empty() ? L"" : L", ") + std::to_wstring(id);
        Add(FolderFinding::Severity::Warning, "resource-texts-passed-over",
            L"qz-setup.rsc has texts whose placeholders differ from the built-in ones, so they are passed "
            L"over "
            L"(message 146): " +
                list + L". Build it again with the qz-rsc of this version.");
    }

    void FindMissingRedistributables() {
        const std::wstring folder = GetModuleDir();
        for (const ArchitecturePackage& package : m_check.packages) {
            if (!package.found)
                continue;
            const std::wstring file =
                folder + RedistributableFileName(MachineFactsOf(package.processor), package.platform);
            const DWORD attributes = GetFileAttributesW(file.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
                Add(FolderFinding::Severity::Warning, "redistributable-missing",
                    L"Redistributable " + file +
                        L" is missing: an unattended installation on a machine with the " +
                        std::wstring(ProcessorDisplayName(package.processor)) +
                        L" processor goes without it.");
        }
    }

    // Properties that say they hold a password: the plan hides them, but the
    // installer's own log shows them unless the package lists them.
    void FindUnhiddenPasswords() {
        std::set<std::wstring> checked;
        for (const ArchitecturePackage& package : m_check.packages) {
            if (!package.found || !checked.insert(package.file).second)
                continue;
            std::wstring listed;
            try {
                listed = QZ::MSInstaller::Package::Open(package.file).HiddenProperties();
            } catch (const std::exception&) {
                continue;
            }
            const HiddenValues hidden(listed);
            const auto& names = hidden.listed();
            for (const auto& setting : m_result.variables) {
                if (IsControlVariable(setting.first) || !ContainsPassword(setting.first) ||
                    std::find(names.begin(), names.end(), setting.first) != names.end())
                    continue;
                Add(FolderFinding::Severity::Note, "password-not-hidden",
                    L"Property " + setting.first + L" holds a password by its name, but package " +
                        package.file +
                        L" does not list it in MsiHiddenProperties: the installer's log shows its value.");
            }
        }
    }

    // What deployment tools need, from the packages the processors take:
    // one entry per architecture that has a package of its own (an Arm64
    // machine that takes the x64 package is the x64 entry's). The winget
    // placeholders left join the findings as notes; manifests that cannot be
    // written are an error, named by message 180.
    Json Deployment() {
        DeploymentFacts facts;
        facts.packageName = m_packageName;
        for (const ArchitecturePackage& package : m_check.packages) {
            if (!package.found)
                continue;
            const wchar_t* architecture = WingetArchitecture(package.platform);
            if (!architecture || package.platform != package.processor)
                continue;
            facts.packages.push_back({architecture, package.file, package.productCode, package.upgradeCode,
                                      package.productVersion, package.productName, package.manufacturer});
        }
        std::vector<std::wstring> placeholders;
        Json deployment = DeploymentPart(facts, m_result.variables, placeholders);
        for (const std::wstring& field : placeholders)
            Add(FolderFinding::Severity::Note, "winget-placeholder", PlaceholderNote(field));

        const std::wstring plan = PlanFilePath(m_result.variables);
        DWORD error = 0;
        if (facts.packages.empty())
            return deployment; // no package of its own for any processor: nothing to describe
        if (!WriteWingetManifests(plan, facts, m_result.variables, error)) {
            std::wstring text;
            FormatResourceMessage(IDS_WINGET_NOT_WRITTEN, text, WingetFolderPath(plan),
                                  SystemErrorReason(error));
            WriteLogLine(error, text, LOG_ERROR);
            Add(FolderFinding::Severity::Error, "winget-not-written", text);
        }
        return deployment;
    }

    void Add(FolderFinding::Severity severity, const char* kind, const std::wstring& reason) {
        m_check.findings.push_back({severity, kind, reason});
    }

    void Report(Json deployment) {
        unsigned counts[3] = {};
        Json findings = Json::array();
        for (const FolderFinding& finding : m_check.findings) {
            ++counts[static_cast<int>(finding.severity)];
            findings.push_back({{"severity", SeverityName(finding.severity)},
                                {"kind", finding.kind},
                                {"reason", EncodeUtf8(finding.reason)}});
        }
        Json packages = Json::array();
        for (const ArchitecturePackage& package : m_check.packages) {
            Json entry{{"processor", EncodeUtf8(ProcessorDisplayName(package.processor))},
                       {"found", package.found}};
            if (package.found) {
                entry["file"] = EncodeUtf8(package.file);
                entry["platform"] = EncodeUtf8(TemplatePlatformName(package.platform));
                entry["productCode"] = EncodeUtf8(package.productCode);
                entry["upgradeCode"] = EncodeUtf8(package.upgradeCode);
                entry["productVersion"] = EncodeUtf8(package.productVersion);
                entry["productName"] = EncodeUtf8(package.productName);
                entry["manufacturer"] = EncodeUtf8(package.manufacturer);
            }
            packages.push_back(std::move(entry));
        }
        Json processors = Json::array();
        for (const DWORD processor : g_plannedProcessors)
            processors.push_back(EncodeUtf8(ProcessorDisplayName(processor)));
        Json document;
        document["check"] = {{"packageName", EncodeUtf8(m_packageName)},
                             {"packageFolder", EncodeUtf8(m_packageDir)},
                             {"transformFolder", EncodeUtf8(m_transformDir)},
                             {"processors", processors},
                             {"languages", m_check.languages}};
        document["plans"] = m_plans;
        document["packages"] = packages;
        document["findings"] = findings;
        document["summary"] = {{"errors", counts[0]}, {"warnings", counts[1]}, {"notes", counts[2]}};
        document["deployment"] = std::move(deployment);

        PlanRecord& record = *m_result.plan;
        record.folderCheckJson = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
        const std::wstring path = PlanFilePath(m_result.variables);
        m_result.text.clear();
        if (counts[0] == 0) {
            FormatResourceMessage(IDS_FOLDER_CHECK_WRITTEN, m_result.text, path, counts[1], counts[2]);
            m_result.code = 0;
            m_result.end = RunEnd::Planned;
        } else {
            FormatResourceMessage(IDS_FOLDER_CHECK_FOUND_ERRORS, m_result.text, path, counts[0], counts[1],
                                  counts[2]);
            m_result.code = 1;
            m_result.end = RunEnd::Failed;
        }
    }

    RunResult& m_result;
    FolderCheck m_check;
    Json m_plans = Json::array();
    std::wstring m_packageDir;
    std::wstring m_packageName;
    std::wstring m_transformDir;
    bool m_byFile = false;
    std::vector<FolderPackage> m_packages;
    std::vector<FolderTransform> m_transforms;
    std::vector<std::wstring> m_unreadable; // transforms, reported in their row
    std::vector<LANGID> m_helpLanguages;
};

} // namespace

const char* SeverityName(FolderFinding::Severity severity) {
    switch (severity) {
    case FolderFinding::Severity::Error:
        return "error";
    case FolderFinding::Severity::Warning:
        return "warning";
    case FolderFinding::Severity::Note:
        break;
    }
    return "note";
}

void RunFolderCheck(RunResult& result) {
    Checker(result).Run();
}
