#include "bootstrapper/plan_report.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "bootstrapper/run_sequence.h"
#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "language/language_choice.h"
#include "planning/hidden_values.h"
#include "qz-version.h"
#include "settings/value_expansion.h"
#include "system/installer_mutex.h"
#include "system/machine_queries.h"
#include "system/own_files.h"
#include "system/restart_signals.h"
#include "system/system_facts.h"
#include "system/path_helpers.h"
#include "system/win_owners.h"

using Json = nlohmann::ordered_json;

namespace {

Json TextOrNull(const std::wstring& text) {
    return text.empty() ? Json() : Json(EncodeUtf8(text));
}

std::wstring ProgramPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

// The Template platform of a package, or the one a package needs to be
// chosen on a machine with that processor.
const char* PlatformName(DWORD platform) {
    switch (platform) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return "Intel";
    case PROCESSOR_ARCHITECTURE_AMD64:
        return "x64";
    case PROCESSOR_ARCHITECTURE_IA64:
        return "Intel64";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return "Arm64";
    default:
        return "unrecognised";
    }
}

std::string LocaleName(LCID locale) {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (LCIDToLocaleName(locale, name, LOCALE_NAME_MAX_LENGTH, 0) == 0)
        return std::string();
    return EncodeUtf8(name);
}

Json Program() {
    Json program;
    program["version"] = QZ_VERSION_TEXT;
    program["configuration"] = sizeof(void*) == 8 ? "64-bit" : "32-bit";
    program["file"] = EncodeUtf8(ProgramPath());
    return program;
}

Json Machine(const PlanRecord& record) {
    Json machine;
    const RunFacts& run = record.facts;
    const MachineFacts& facts = run.machine;
    const DWORD native = NativeProcessorOf(facts);
    machine["processor"] = EncodeUtf8(ProcessorDisplayName(native));
    // The platforms a package found by name may have, in the order they are tried.
    Json platforms = Json::array();
    platforms.push_back(PlatformName(native));
    if (native != facts.reportedProcessor)
        platforms.push_back(PlatformName(facts.reportedProcessor));
    machine["packagePlatforms"] = platforms;
    if (native != facts.reportedProcessor)
        machine["fallback"] = {
            {"platform", PlatformName(facts.reportedProcessor)},
            {"why", std::string("this ") + (sizeof(void*) == 8 ? "64-bit" : "32-bit") +
                        " program runs emulated as " +
                        EncodeUtf8(ProcessorDisplayName(facts.reportedProcessor)) +
                        " there: without an Arm64 package it takes the first package of that platform"}};
    if (run.assumed)
        machine["assumed"] = {{"setting", EncodeUtf8(record.planAs)},
                              {"processor", true},
                              {"userLanguage", run.languageAssumed},
                              {"productInstalled", false},
                              {"why", "QZ_SETUP_PLAN_AS plans for another machine: its processor and user "
                                      "language are assumed, its product is taken as not installed; Windows "
                                      "and the rights are this machine's"}};
    else
        machine["assumed"] = Json();

    const WindowsVersion version = GetWindowsVersion();
    Json windows;
    windows["version"] = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                         std::to_string(version.build);
    windows["type"] = version.productType == VER_NT_WORKSTATION ? "workstation"
                      : version.productType == 0                ? "unknown"
                                                                : "server";
    machine["windows"] = windows;

    Json languages;
    const LCID user = MAKELCID(run.userLanguage, SORT_DEFAULT);
    languages["user"] = {{"id", LOWORD(user)}, {"name", LocaleName(user)}};
    // The language dialog offers the transforms of the user's primary language.
    languages["dialog"] = {{"primaryLanguage", PrimaryLanguage(LOWORD(user))},
                           {"name", EncodeUtf8(GetLanguageName(LOWORD(user)))}};
    Json codes = Json::array();
    for (const std::wstring& code : GetUserLangCodes(run.userLanguage))
        codes.push_back(EncodeUtf8(code));
    languages["helpFile"] = codes;
    machine["languages"] = languages;

    const Elevation elevation = GetProcessElevation();
    machine["elevated"] = elevation == Elevation::Unknown ? Json() : Json(elevation == Elevation::Elevated);
    return machine;
}

Json Settings(const VariableMap& variables, const SettingOrigins& origins, const HiddenValues& hidden) {
    Json settings = Json::array();
    for (const auto& entry : variables) {
        Json setting;
        setting["name"] = EncodeUtf8(entry.first);
        setting["value"] = EncodeUtf8(hidden.Shown(entry.first, entry.second));
        const SettingSource* source = origins.Find(entry.first);
        setting["origin"] = SettingOriginName(source ? source->origin : SettingOrigin::Default);
        if (source && source->givenBy != source->origin) {
            setting["givenBy"] = SettingOriginName(source->givenBy);
            setting["givenAs"] = EncodeUtf8(hidden.Shown(entry.first, source->givenValue));
        }
        if (source && !source->passedOver.empty()) {
            Json passed = Json::array();
            for (const auto& other : source->passedOver)
                passed.push_back({{"by", SettingOriginName(other.first)},
                                  {"value", EncodeUtf8(hidden.Shown(entry.first, other.second))}});
            setting["passedOver"] = passed;
        }
        setting["installerProperty"] = !IsControlVariable(entry.first);
        settings.push_back(setting);
    }
    return settings;
}

std::string BasisName(LanguageOffer::Basis basis, const VariableMap& variables) {
    switch (basis) {
    case LanguageOffer::Basis::NotInstallMode:
        return "the mode is " + EncodeUtf8(VariableValue(variables, QZ_SETUP_MODE)) + ", not INSTALL";
    case LanguageOffer::Basis::ProductRegistered:
        return "the product is installed: it keeps its language";
    case LanguageOffer::Basis::NamedBySetting:
        return "QZ_SETUP_LANG_TRANSFORM names the transform";
    case LanguageOffer::Basis::NoUserTransform:
        return "no transform has the user's language";
    case LanguageOffer::Basis::Dialog:
        break;
    }
    return "the language dialog asks the user";
}

Json Language(const VariableMap& variables, const PlanRecord& record) {
    const DerivationNotes& notes = record.derivation;
    if (!notes.languageDecided)
        return Json();
    const LanguageOffer& offer = notes.language;
    Json language;
    language["decision"] = offer.basis == LanguageOffer::Basis::Dialog ? "dialog" : "no choice";
    language["why"] = BasisName(offer.basis, variables);
    language["userLanguage"] = offer.userLanguage;
    if (offer.scanned) {
        language["productLanguage"] = offer.productLanguage;
        language["transformFolder"] = EncodeUtf8(VariableValue(variables, QZ_SETUP_LANG_TRANSFORM_DIR));
        Json transforms = Json::array();
        for (const auto& item : offer.transforms) {
            Json transform{{"file", EncodeUtf8(item.text)}, {"language", item.langId}};
            const bool users = PrimaryLanguage(item.langId) == PrimaryLanguage(offer.userLanguage);
            transform["offered"] = users;
            if (!users)
                transform["passedOver"] = "not the user's language";
            transforms.push_back(transform);
        }
        for (const auto& file : offer.notLanguageTransforms)
            transforms.push_back(
                {{"file", EncodeUtf8(file)}, {"offered", false}, {"passedOver", "sets no ProductLanguage"}});
        language["transforms"] = transforms;
    }
    if (offer.basis == LanguageOffer::Basis::Dialog) {
        Json items = Json::array();
        for (std::size_t i = 0; i < offer.choices.size(); ++i)
            items.push_back({{"text", EncodeUtf8(offer.choices[i].text)},
                             {"language", offer.choices[i].langId},
                             {"transform", TextOrNull(offer.choiceTransforms[i])}});
        language["dialog"] = {{"items", items}, {"preselected", offer.preselected}};
    }
    const auto named = variables.find(QZ_SETUP_LANG_TRANSFORM);
    language["transform"] = named != variables.end() ? TextOrNull(named->second) : Json();
    return language;
}

const char* VerdictName(PackageCandidate::Verdict verdict) {
    switch (verdict) {
    case PackageCandidate::Verdict::Chosen:
        return "chosen";
    case PackageCandidate::Verdict::NameDoesNotMatch:
        return "name does not match";
    case PackageCandidate::Verdict::ProcessorDoesNotMatch:
        return "processor does not match";
    case PackageCandidate::Verdict::NotReadable:
        break;
    }
    return "not readable";
}

// A language id as the package writes it: a number, or the text as it stands
// when it is none (null when the package names none).
Json LanguageId(const std::wstring& text) {
    if (text.empty())
        return Json();
    unsigned long id = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9' || id > 0xFFFF)
            return Json(EncodeUtf8(text));
        id = id * 10 + static_cast<unsigned long>(c - L'0');
    }
    return id <= 0xFFFF ? Json(id) : Json(EncodeUtf8(text));
}

Json Packages(const VariableMap& variables, const PlanRecord& record) {
    Json packages;
    const SettingSource* file = record.origins.Find(QZ_SETUP_PACKAGE_FILE);
    const bool byFile = file && file->givenBy != SettingOrigin::Derived;
    packages["by"] = byFile ? "file" : "name";
    if (!byFile) {
        packages["name"] = EncodeUtf8(VariableValue(variables, QZ_SETUP_PACKAGE_NAME));
        packages["folder"] = EncodeUtf8(VariableValue(variables, QZ_SETUP_PACKAGE_DIR));
    }
    if (!byFile) {
        Json candidates = Json::array();
        for (const PackageCandidate& looked : record.derivation.candidates) {
            Json candidate{{"file", EncodeUtf8(looked.file)},
                           {"productName", TextOrNull(looked.productName)}};
            candidate["platform"] = looked.platformRead ? Json(PlatformName(looked.platform)) : Json();
            candidate["verdict"] = VerdictName(looked.verdict);
            if (looked.verdict == PackageCandidate::Verdict::NotReadable) {
                candidate["error"] = {{"code", looked.error},
                                      {"text", EncodeUtf8(SystemErrorReason(looked.error))}};
            }
            candidates.push_back(candidate);
        }
        packages["candidates"] = candidates;
    }
    if (!record.installPlanned) {
        packages["chosen"] = Json();
        return packages;
    }
    const PlannedPackage& chosen = record.install.package;
    Json hidden = Json::array();
    for (const auto& name : record.install.hidden.listed())
        hidden.push_back(EncodeUtf8(name));
    packages["chosen"] = {{"file", EncodeUtf8(chosen.file)},
                          {"productName", EncodeUtf8(chosen.productName)},
                          {"productCode", EncodeUtf8(chosen.productCode)},
                          {"productVersion", EncodeUtf8(chosen.productVersion)},
                          {"productLanguage", LanguageId(chosen.productLanguage)},
                          {"platform", PlatformName(chosen.platform)},
                          {"hiddenProperties", hidden}};
    return packages;
}

Json Redistributable(const PlanRecord& record) {
    if (!record.redistributablePlanned)
        return Json();
    const RedistributablePlan& redistributable = record.redistributable;
    Json plan;
    plan["file"] = TextOrNull(redistributable.file);
    plan["present"] = redistributable.present;
    plan["wouldRun"] = redistributable.wouldRun;
    if (redistributable.wouldRun)
        plan["properties"] = EncodeUtf8(redistributable.properties);
    switch (redistributable.basis) {
    case RedistributablePlan::Basis::NotUnattended:
        plan["why"] = "only an unattended installation (QZ_SETUP_MODE=UNATTENDED) installs it";
        break;
    case RedistributablePlan::Basis::Missing:
        plan["why"] = "it is not beside the program";
        break;
    case RedistributablePlan::Basis::Present:
        plan["why"] = "installed silently before the package; its result does not stop the package";
        break;
    }
    return plan;
}

// The patches of QZ_SETUP_PATCHES: null when it is not set, or when the run
// ended before they were looked at.
Json Patches(const PlanRecord& record) {
    if (!record.patchesPlanned)
        return Json();
    const PatchPlan& plan = record.patches;
    Json patches;
    patches["setting"] = EncodeUtf8(plan.setting);
    patches["folder"] = EncodeUtf8(plan.folder);
    if (plan.removal)
        patches["why"] = "a removal applies no patches";
    Json files = Json::array();
    for (const PatchEntry& entry : plan.looked) {
        Json file;
        file["file"] = EncodeUtf8(entry.file);
        file["patchCode"] = TextOrNull(entry.patchCode);
        Json targets = Json::array();
        for (const std::wstring& target : entry.targets)
            targets.push_back(EncodeUtf8(target));
        file["targets"] = targets;
        file["applies"] = entry.applies;
        if (entry.applies) {
            file["order"] = entry.order;
        } else {
            file["why"] = entry.why;
            file["status"] = entry.status;
        }
        files.push_back(file);
    }
    patches["files"] = files;
    Json applied = Json::array();
    for (const std::wstring& file : plan.applied)
        applied.push_back(EncodeUtf8(file));
    patches["applied"] = applied;
    return patches;
}

std::string Hex(DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

Json Operation(const PlanRecord& record) {
    if (!record.installPlanned)
        return Json();
    const InstallPlan& install = record.install;
    Json operation;
    operation["action"] = OperationName(install.operation);
    const std::string code = EncodeUtf8(install.package.productCode);
    switch (install.operation) {
    case InstallOperation::Remove:
        operation["why"] = "the mode " + EncodeUtf8(g_setupModeNames[install.mode]) + " removes the product";
        break;
    case InstallOperation::Repair:
        operation["why"] = "the product " + code + " is registered on this machine";
        break;
    case InstallOperation::Install:
        operation["why"] =
            record.facts.assumed
                ? "the product " + code + " is taken as not installed on the machine planned for"
                : "the product " + code + " is not registered on this machine";
        break;
    }
    operation["mode"] = EncodeUtf8(g_setupModeNames[install.mode]);
    operation["productCode"] = code;
    if (install.operation == InstallOperation::Remove) {
        // What there is to remove: null when the installer could not say.
        operation["installed"] = install.removalChecked ? Json(install.productRegistered) : Json();
        Json others = Json::array();
        for (const auto& other : install.otherVersions)
            others.push_back({{"productCode", EncodeUtf8(other.productCode)},
                              {"productName", EncodeUtf8(other.productName)},
                              {"version", EncodeUtf8(other.version)}});
        operation["otherVersions"] = others;
    }
    operation["userInterface"] = install.silent ? "none" : "full";
    operation["properties"] = EncodeUtf8(install.shownProperties);
    operation["transforms"] = TextOrNull(install.transform);
    operation["patches"] = TextOrNull(install.patches);
    operation["logFile"] = EncodeUtf8(install.logFile);
    if (record.logFileRandom)
        operation["logFileWhy"] =
            "every numbered name beside the log is taken: the run would pick a random one";
    operation["logMode"] = Hex(install.logMode);
    operation["msiexec"] = EncodeUtf8(MsiexecCommandLine(install.package.file, install.shownProperties,
                                                         install.silent, install.logMode, install.logFile));
    return operation;
}

Json Moment(const PlanRecord& record) {
    Json moment;
    moment["installerBusy"] = IsInstallerBusy();
    // As the run looked at it; a run that ended before that looks now.
    const std::vector<std::wstring> signals =
        record.restartChecked ? record.pendingRestart.signals : PendingRestartSignals();
    moment["restartPending"] = !signals.empty();
    Json names = Json::array();
    for (const std::wstring& name : signals)
        names.push_back(EncodeUtf8(name));
    moment["restartSignals"] = names;
    return moment;
}

// The lines the run logged, without their line ends.
Json LogLines(const std::wstring& buffered) {
    Json lines = Json::array();
    std::size_t start = 0;
    while (start < buffered.size()) {
        std::size_t end = buffered.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = buffered.size();
        lines.push_back(EncodeUtf8(buffered.substr(start, end - start)));
        start = end + 2;
    }
    return lines;
}

const char* Outcome(const RunResult& result, const PlanRecord& record) {
    if (record.reachedInstaller)
        return "would call the installer";
    if (result.end == RunEnd::HelpShown)
        return "would show help";
    return "would end before the installer";
}

Json IgnoredArguments(const PlanRecord& record) {
    Json ignored = Json::array();
    for (const IgnoredArgument& item : record.ignored) {
        Json entry;
        entry["text"] = EncodeUtf8(item.text);
        entry["source"] = item.file.empty() ? std::string("command line") : EncodeUtf8(item.file);
        if (!item.file.empty())
            entry["line"] = item.line;
        ignored.push_back(std::move(entry));
    }
    return ignored;
}

Json End(const RunResult& result, const PlanRecord& record) {
    Json end;
    end["outcome"] = Outcome(result, record);
    if (!record.reachedInstaller && record.endMessage.id != 0)
        end["message"] = {{"id", record.endMessage.id}, {"text", EncodeUtf8(record.endMessage.text)}};
    end["resultCode"] = result.code;
    std::wstring text = result.text;
    TrimLineEnds(text);
    end["resultText"] = EncodeUtf8(text);
    end["exitCode"] = record.exitCode;
    end["installerExitCode"] = record.installerExitCode;
    return end;
}

} // namespace

std::wstring PlanFilePath(const VariableMap& variables) {
    std::wstring path = VariableValue(variables, QZ_SETUP_PLAN);
    try {
        path = ExpandEnvironmentVars(path);
    } catch (const WinException&) {
        // Taken as it is, like the exit file's name.
    }
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::vector<wchar_t> full(size);
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    return length != 0 && length < size ? std::wstring(full.data(), length) : path;
}

bool IsPlanRun(const VariableMap& variables) {
    const auto plan = variables.find(QZ_SETUP_PLAN);
    return plan != variables.end() && !plan->second.empty();
}

nlohmann::ordered_json MakePlan(const RunResult& result) {
    static const PlanRecord none;
    const PlanRecord& record = result.plan ? *result.plan : none;
    const VariableMap& variables = result.variables;
    const HiddenValues passwordsOnly;
    const HiddenValues& hidden = record.installPlanned ? record.install.hidden : passwordsOnly;

    Json plan;
    plan["program"] = Program();
    plan["machine"] = Machine(record);
    plan["settings"] = Settings(variables, record.origins, hidden);
    plan["ignoredArguments"] = IgnoredArguments(record);
    plan["packages"] = Packages(variables, record);
    plan["language"] = Language(variables, record);
    plan["redistributable"] = Redistributable(record);
    plan["patches"] = Patches(record);
    plan["operation"] = Operation(record);
    plan["moment"] = Moment(record);
    plan["log"] = LogLines(result.buffer.str());
    plan["end"] = End(result, record);
    return plan;
}

std::string MakePlanJson(const RunResult& result) {
    // Whatever a value holds, the plan stays readable: text that is no
    // valid UTF-16 comes out with replacement characters.
    return MakePlan(result).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WritePlanFile(const std::wstring& path, const std::string& json, DWORD& error) {
    // A file of the run's own, like the exit file: never written into a file
    // or link that someone else put at its name, nor through a folder that is
    // a link or cannot be held; no fresh name to fall back on, no folder made.
    // Whole or absent: a plan that cannot be written whole is removed again.
    bool nameHeld = false;
    const UniqueFileHandle file = CreateOwnFileOnHeldPath(
        path.c_str(), MissingFolders::Leave, GENERIC_WRITE | DELETE, FILE_SHARE_READ, error, nameHeld);
    if (!file.valid())
        return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), json.data(), static_cast<DWORD>(json.size()), &written, nullptr) ||
        written != json.size()) {
        error = GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
        DiscardOwnFile(file.get());
        return false;
    }
    return true;
}

void ReportPlan(RunResult& result) {
    PlanRecord& record = *result.plan;
    std::wstring path = VariableValue(result.variables, QZ_SETUP_PLAN);
    DWORD error = ERROR_SUCCESS;
    try {
        path = PlanFilePath(result.variables);
        record.written =
            // A folder check that did not get to its document writes the
            // plan of its own run, which says how that ended.
            WritePlanFile(
                path, !record.folderCheckJson.empty() ? record.folderCheckJson : MakePlanJson(result), error);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        // Reported below as a write fault.
    }
    if (record.written)
        return;
    if (error == ERROR_SUCCESS)
        error = ERROR_WRITE_FAULT;
    const std::wstring system = SystemErrorReason(error);
    std::wstring text;
    FormatResourceMessage(IDS_PLAN_NOT_WRITTEN, text, path, system);
    WriteLogLine(error, text, LOG_ERROR);
    result.code = static_cast<int>(error);
    result.text = text;
}
