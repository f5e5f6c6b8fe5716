#include "bootstrapper/run_sequence.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <ios>
#include <utility>
#include <vector>

#include "bootstrapper/completion_report.h"
#include "bootstrapper/folder_check.h"
#include "bootstrapper/help_display.h"
#include "bootstrapper/plan_report.h"
#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "install/message_handler.h"
#include "install/package_run.h"
#include "install/pre_install.h"
#include "msi/product_registration.h"
#include "planning/assumed_machine.h"
#include "planning/derived_settings.h"
#include "planning/install_plan.h"
#include "planning/patch_plan.h"
#include "system/path_helpers.h"
#include "system/window_station.h"
#include "planning/validation.h"
#include "settings/command_line.h"
#include "settings/setting_origins.h"
#include "settings/value_expansion.h"
#include "settings/variable_file.h"
#include "system/msi_api.h"
#include "system/own_files.h"

namespace {

std::wstring NarrowToWide(const char* text) {
    if (!text)
        return std::wstring();
    try {
        return std::wstring(_Mb2Uni(text).get());
    } catch (...) {
        return std::wstring();
    }
}

// How a settings file ended when it was refused.
enum class FileOutcome { Merged, Refused };

// The result of an early end: `text` is the message that says why.
void EndEarly(RunResult& result, int code, WORD messageId, const std::wstring& text) {
    result.text = text;
    result.code = code;
    result.plan->endMessage.id = messageId;
    result.plan->endMessage.text = text;
}

// Names what the settings left unused in an information line, which the
// reason of an early end repeats.
void NoteIgnored(PlanRecord& record, const std::wstring& text) {
    WriteLogLine(text, LOG_INFO);
    record.ignoredNote += (record.ignoredNote.empty() ? L"" : L"\n") + text;
}

void NoteIgnoredArguments(PlanRecord& record, const std::vector<std::wstring>& arguments) {
    if (arguments.empty())
        return;
    std::wstring list;
    for (const std::wstring& argument : arguments) {
        list += (list.empty() ? L"\"" : L", \"") + argument + L"\"";
        record.ignored.push_back({argument, std::wstring(), 0});
    }
    std::wstring text;
    FormatResourceMessage(IDS_ARGUMENTS_IGNORED, text, list);
    NoteIgnored(record, text);
}

// The reason a run with refused settings gives in its exit file: the message
// that ended it, then what it left unused.
std::wstring EndReason(const PlanRecord& record, const std::wstring& message) {
    if (message.empty() || record.ignoredNote.empty())
        return message + record.ignoredNote;
    return message + L"\n" + record.ignoredNote;
}

// The texts of the error lines among `lines` (log lines as the early-message
// buffer holds them), one a line: what an attended user reads as the reason.
std::wstring ErrorTexts(const std::wstring& lines) {
    static const std::wstring kError = L"QZSETUP:BOOTSTRAP:ERR:";
    static const std::wstring kInfo = L"QZSETUP:BOOTSTRAP:INFO:";
    const auto startsLine = [&](std::size_t at) {
        return lines.compare(at, kError.size(), kError) == 0 || lines.compare(at, kInfo.size(), kInfo) == 0;
    };
    std::wstring texts;
    std::size_t at = 0;
    while (at < lines.size()) {
        // The line runs to the line end before the next line's start.
        std::size_t end = lines.find(L"\r\n", at);
        while (end != std::wstring::npos && end + 2 < lines.size() && !startsLine(end + 2))
            end = lines.find(L"\r\n", end + 2);
        if (end == std::wstring::npos)
            end = lines.size();
        if (lines.compare(at, kError.size(), kError) == 0) {
            const std::size_t colon = lines.find(L':', at + kError.size());
            if (colon != std::wstring::npos && colon < end)
                texts += (texts.empty() ? L"" : L"\n") + lines.substr(colon + 1, end - colon - 1);
        }
        at = end + 2;
    }
    return texts;
}

// Reads a control or response file into `variables` without overriding what
// is there; on a refusal the result holds the reader's code and `messageId`
// formatted with the path and the offending line.
FileOutcome MergeSettingsFile(const std::wstring& path, VariableMap& variables, WORD messageId,
                              SettingOrigin source, RunResult& result) {
    VariableMap fileVariables;
    std::wstring offending;
    std::vector<BlankNamedSetting> blankNames;
    const int code = LoadPIFRspFile(path, fileVariables, offending, &blankNames);
    if (code != 0) {
        std::wstring text;
        FormatResourceMessage(messageId, text, path, offending);
        EndEarly(result, code, messageId, text);
        result.reason = EndReason(*result.plan, std::wstring());
        return FileOutcome::Refused;
    }
    for (const BlankNamedSetting& blank : blankNames) {
        std::wstring text;
        FormatResourceMessage(IDS_SETTING_NAME_BLANKS, text, blank.name, blank.line, path);
        NoteIgnored(*result.plan, text);
        result.plan->ignored.push_back({blank.name, path, blank.line});
    }
    MergeVariables(variables, fileVariables);
    result.plan->origins.NoteSource(source, fileVariables);
    return FileOutcome::Merged;
}

// No file from before may stand at the name of a result the run writes at
// its end (the exit file, the plan), to be read as this run's result when
// the end cannot write it: the names are removed as soon as the settings
// name them, before any step that could fail.
void RemoveEarlierResults(const VariableMap& variables) {
    const auto exitFile = variables.find(QZ_SETUP_EXIT_FILE);
    if (exitFile != variables.end()) {
        std::wstring path = exitFile->second;
        try {
            path = ExpandEnvironmentVars(path);
        } catch (const WinException&) {
            // Taken as it is, as the end takes it.
        }
        RemoveOwnName(path.c_str());
    }
    if (IsPlanRun(variables))
        RemoveOwnName(PlanFilePath(variables).c_str());
}

// Runs a step that changes the settings, noting what it changed (also when
// it raises).
template <class Step> auto ChangeSettings(RunResult& result, SettingOrigin origin, Step step) {
    const VariableMap before = result.variables;
    const auto note = [&] {
        result.plan->origins.NoteChanges(before, result.variables, origin, DefaultedSettingNames());
    };
    try {
        const auto outcome = step();
        note();
        return outcome;
    } catch (...) {
        note();
        throw;
    }
}

// Steps 3 to 15. Returns true for an early end (the exit code is the result
// code). `planAs`, when not empty, stands for QZ_SETUP_PLAN_AS whatever the
// settings say (the folder check's plans).
bool RunSteps(RunResult& result, const std::wstring& planAs = std::wstring()) {
    VariableMap& variables = result.variables;
    PlanRecord& record = *result.plan;
    record.facts = GetRunFacts();

    std::wstring moduleDir;
    GetModuleDir(moduleDir);
    SetCurrentDirectoryW(moduleDir.c_str());

    // Command line.
    {
        VariableMap parsed;
        std::wstring offending;
        std::vector<std::wstring> ignored;
        const int code = ParseCommandLine(parsed, offending, &ignored);
        if (code != 0) {
            std::wstring text;
            FormatResourceMessage(IDS_BAD_COMMAND_LINE, text, offending, GetParseErrorText(code));
            EndEarly(result, RESULT_INVALID_SETTINGS, IDS_BAD_COMMAND_LINE, text);
            result.end = RunEnd::CommandLineRefused;
            return true;
        }
        variables.swap(parsed);
        record.origins.NoteSource(SettingOrigin::CommandLine, variables);
        NoteIgnoredArguments(record, ignored);
        record.planRun = IsPlanRun(variables);
        RemoveEarlierResults(variables);
    }

    // Control file beside the executable.
    result.end = RunEnd::SettingsRefused;
    const std::wstring controlFile = GetControlFilePath();
    if (FileExists(controlFile) &&
        MergeSettingsFile(controlFile, variables, IDS_CONTROL_FILE_ERROR, SettingOrigin::ControlFile,
                          result) == FileOutcome::Refused)
        return true;
    record.planRun = IsPlanRun(variables);
    RemoveEarlierResults(variables);

    // Response file.
    const auto response = variables.find(QZ_SETUP_RESPONSE_FILE);
    if (response != variables.end()) {
        std::wstring path = ExpandEnvironmentVars(response->second);
        Rel2AbsFilePath(path);
        if (!FileExists(path)) {
            std::wstring text;
            FormatResourceMessage(IDS_RESPONSE_FILE_MISSING, text, path);
            EndEarly(result, RESULT_RESPONSE_FILE_MISSING, IDS_RESPONSE_FILE_MISSING, text);
            result.reason = EndReason(record, std::wstring());
            return true;
        }
        if (MergeSettingsFile(path, variables, IDS_RESPONSE_FILE_ERROR, SettingOrigin::ResponseFile,
                              result) == FileOutcome::Refused)
            return true;
        record.planRun = IsPlanRun(variables);
        RemoveEarlierResults(variables);
    }
    if (!planAs.empty())
        variables[QZ_SETUP_PLAN_AS] = planAs;
    // A plan asks nobody: the language dialog is written down instead.
    record.derivation.planOnly = record.planRun;
    // Nor does a run whose dialogs nobody could see: it goes on as an
    // unattended one would, for its dialogs and the installer's.
    record.askNobody = !IsWindowStationVisible();
    record.derivation.askNobody = record.askNobody;
    if (record.askNobody && IsAttendedRun(variables)) {
        std::wstring text;
        LoadResourceMessage(IDS_NO_VISIBLE_STATION, text);
        WriteLogLine(text, LOG_INFO);
    }

    ChangeSettings(result, SettingOrigin::EnvironmentExpansion, [&] {
        ExpandControlVariables(variables);
        return true;
    });

    // The package of the run: held, and open once, from its choice until the
    // installer has returned, with the transforms it is installed with.
    QZ::MSInstaller::Package package;
    PlanRefusal refusal = PlanRefusal::None;
    FlushLogStreams();
    const std::size_t refusalLinesFrom = result.buffer.str().size();
    // The facts the run decides by are taken once, here: this machine's, or
    // another machine's for a plan for it.
    record.derivation.facts = &record.facts;
    bool folderCheck = false;
    const auto settle = [&] {
        if (!ValidateSettings(variables, &refusal, &record.endMessage) ||
            !SettleRunFacts(variables, record.planRun, record.facts, record.endMessage))
            return false;
        folderCheck = record.planRun && IsFolderCheck(variables);
        return folderCheck || ChangeSettings(result, SettingOrigin::Derived, [&] {
                   return DeriveSettings(variables, package, &refusal, &record.derivation);
               });
    };
    if (!settle()) {
        if (record.endMessage.id == 0)
            record.endMessage = record.derivation.refusal;
        result.code = RESULT_INVALID_SETTINGS;
        result.end =
            refusal == PlanRefusal::PackageNotFound ? RunEnd::PackageNotFound : RunEnd::SettingsRefused;
        GetSystemErrorText(ERROR_BAD_ARGUMENTS, result.text);
        // The reason is what an attended user would read: the error lines
        // of the refusal (a package not found has two).
        FlushLogStreams();
        const std::wstring logged = result.buffer.str();
        std::wstring why = ErrorTexts(logged.substr(std::min(refusalLinesFrom, logged.size())));
        result.reason = EndReason(record, why.empty() ? record.endMessage.text : why);
        return false;
    }
    result.end = RunEnd::Failed;
    if (record.facts.assumed)
        record.planAs = VariableValue(variables, QZ_SETUP_PLAN_AS);
    // The folder check makes a plan for each machine itself.
    if (folderCheck) {
        record.folderCheck = true;
        return false;
    }

    if (variables.count(QZ_SETUP_HELP)) {
        const auto helpFile = variables.find(QZ_SETUP_HELP_FILE);
        result.helpReached = true;
        // A plan says that help would be shown, and shows nothing.
        result.code =
            record.planRun ? 0 : DisplayHelp(helpFile != variables.end() ? helpFile->second : std::wstring());
        result.end = RunEnd::HelpShown;
        return false;
    }

    // A plan run leaves no log file: its lines go into the plan. It looks at
    // the log as the run would, and ends where the run could not make it.
    if (record.planRun) {
        try {
            const LogFilePlan log = PlanLogFile(variables[QZ_SETUP_LOG_FILE]);
            variables[QZ_SETUP_LOG_FILE] = log.path;
            record.logFileRandom = log.randomName;
        } catch (const std::ios_base::failure&) {
            record.endMessage.id = IDS_LOG_OPEN_FAILED;
            LoadResourceMessage(IDS_LOG_OPEN_FAILED, record.endMessage.text);
            throw;
        }
    } else {
        // The installer logs into the file the run made (a fresh name when
        // the one asked for cannot be had).
        variables[QZ_SETUP_LOG_FILE] = SetLogFile(variables[QZ_SETUP_LOG_FILE], result.buffer);
    }
    ChangeSettings(result, SettingOrigin::EnvironmentExpansion, [&] {
        ExpandPassThroughVariables(variables, package.Platform());
        return true;
    });

    // The patches (QZ_SETUP_PATCHES), held from here on: one that cannot be
    // used ends the run before any installer call.
    if (variables.count(QZ_SETUP_PATCHES)) {
        const SetupMode mode = SetupModeOf(variables);
        const bool removal = mode == UNINSTALL || mode == UNATTENDED_UNINSTALL;
        // Another machine's product is taken as not installed there.
        const bool registered =
            !removal && !record.facts.assumed &&
            QZ::MSInstaller::IsProductRegistered(package.ProductCode(), L" Fnc : PlanPatches; Line : 60; ");
        record.patches = PlanPatches(variables, package.Path(), package.ProductCode(), registered, mode);
        record.patchesPlanned = true;
        for (const std::wstring& line : record.patches.lines)
            WriteLogLine(line, LOG_INFO);
        if (record.patches.endCode != 0) {
            const PatchPlan& patches = record.patches;
            WriteLogLine(patches.endCode, patches.endMessage, LOG_ERROR);
            record.endMessage.id = patches.endMessageId;
            record.endMessage.text = patches.endMessage;
            result.end = RunEnd::PatchRefused;
            result.code = static_cast<int>(patches.endCode);
            result.text = patches.endMessage;
            result.installerResult = patches.endCode;
            result.installerFailed = true;
            return false;
        }
    }
    const PatchPlan* patches = record.patchesPlanned ? &record.patches : nullptr;

    // Every decision up to the installer call is made once, in the order the
    // run meets them: a plan run writes them down, a real run carries them
    // out. First the redistributable (held from here on when it would run).
    record.redistributable = PlanRedistributable(variables, package.Platform(), record.facts.machine);
    record.redistributablePlanned = true;
    const RedistributablePlan& redistributable = record.redistributable;
    // A restart already pending is named before the first installer call.
    record.pendingRestart = PlanPendingRestart();
    record.restartChecked = true;
    if (!record.pendingRestart.note.empty())
        WriteLogLine(record.pendingRestart.note, LOG_INFO);

    if (record.planRun) {
        // The lines the run would log before the installer's own.
        if (redistributable.noteLogged)
            WriteLogLine(0, redistributable.missingNote, LOG_INFO);
        record.install = PlanPackageRun(variables, package, patches, record.facts.assumed);
        record.install.silent = record.install.silent || record.askNobody;
        record.installPlanned = true;
        WriteLogLine(record.install.banner, LOG_INFO);
        if (!record.install.removalNote.empty())
            WriteLogLine(record.install.removalNote, LOG_INFO);
        record.reachedInstaller = true;
        result.end = RunEnd::Planned;
        result.code = 0;
        result.text.clear();
        FormatResourceMessage(IDS_PLAN_WRITTEN, result.text, PlanFilePath(variables));
        return false;
    }
    g_variables = &variables;

    // One wait for a busy installer over the whole run.
    InstallerBusyWait busyWait = InstallerBusyWait::ForRun();
    RedistributableOutcome redistributableOutcome;
    unsigned outcome = static_cast<unsigned>(
        CoreBootstrapper_PreInstall(redistributable, busyWait, &redistributableOutcome));
    if (outcome == 0) {
        record.install = PlanPackageRun(variables, package, patches, record.facts.assumed);
        record.install.silent = record.install.silent || record.askNobody;
        record.installPlanned = true;
        outcome =
            ResultWithRedistributable(RunPackage(package, record.install, busyWait), redistributableOutcome);
    }

    result.end = RunEnd::InstallerCalled;
    result.installerResult = outcome;
    result.installerFailed = IsInstallerFailure(outcome);
    result.code = static_cast<int>(outcome);
    if (outcome == ERROR_INSTALL_FAILURE && g_lastInstallerError != 0) {
        result.code = static_cast<int>(g_lastInstallerError);
        result.text = g_lastInstallerMessage;
    } else {
        GetSystemErrorText(outcome, result.text);
    }
    return false;
}

} // namespace

void HandleRunException(RunResult& result) noexcept {
    try {
        throw;
    } catch (const FileHoldFailure& e) {
        result.code = static_cast<int>(e.GetError());
        result.text = e.Text();
        // Another program has the file open for writing: as passing a cause
        // as a busy installer, and reported as one to deployment tools.
        result.end = IsSharingError(e.GetError()) ? RunEnd::FileInUse : RunEnd::Failed;
    } catch (const TransformFailure& e) {
        result.code = static_cast<int>(e.GetError());
        result.text = e.Text();
        result.end = RunEnd::TransformFailed;
        if (result.plan) {
            result.plan->endMessage.id = IDS_TRANSFORM_NOT_USABLE;
            result.plan->endMessage.text = e.Text();
        }
    } catch (const DescribedFailure& e) {
        result.code = static_cast<int>(e.GetError());
        result.text = e.Text();
        result.end = RunEnd::Failed;
    } catch (const WinException& e) {
        result.code = static_cast<int>(e.GetError());
        result.text = NarrowToWide(e.what());
        // The language dialog ends a run the user walked away from this way.
        result.end = e.GetError() == ERROR_INSTALL_USEREXIT ? RunEnd::UserCancelled : RunEnd::Failed;
    } catch (const std::exception& e) {
        result.code = RESULT_GENERIC_FAILURE;
        result.text = NarrowToWide(e.what());
        result.end = RunEnd::Failed;
    } catch (...) {
        result.end = RunEnd::Failed;
        result.code = RESULT_GENERIC_FAILURE;
        result.text.clear();
        try {
            LoadResourceMessage(IDS_UNEXPECTED_EXCEPTION, result.text);
        } catch (...) {
            // Out of memory: the code says it all.
        }
    }
}

int FinalExitCode(int resultCode) {
    return QZ::MSInstaller::IsSuccessResult(static_cast<unsigned>(resultCode)) ? 0 : 1;
}

bool IsInstallerFailure(unsigned installerResult) {
    return !QZ::MSInstaller::IsSuccessResult(installerResult);
}

bool WantsInstallerExitCodes(const VariableMap& variables) {
    const auto exitCode = variables.find(QZ_SETUP_EXIT_CODE);
    return exitCode != variables.end() && exitCode->second == EXIT_CODE_INSTALLER;
}

int InstallerExitCode(RunEnd end, unsigned installerResult) {
    switch (end) {
    case RunEnd::CommandLineRefused:
        return RESULT_INVALID_SETTINGS;
    case RunEnd::HelpShown:
    case RunEnd::Planned:
        return ERROR_SUCCESS;
    case RunEnd::InstallerCalled:
    case RunEnd::PatchRefused:
        return static_cast<int>(installerResult);
    case RunEnd::UserCancelled:
        return ERROR_INSTALL_USEREXIT;
    case RunEnd::PackageNotFound:
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    case RunEnd::FileInUse:
        return ERROR_INSTALL_ALREADY_RUNNING;
    case RunEnd::TransformFailed:
        return ERROR_INSTALL_TRANSFORM_FAILURE;
    case RunEnd::SettingsRefused:
    case RunEnd::Failed:
        break;
    }
    return ERROR_INSTALL_FAILURE;
}

int RunBootstrapper() {
    std::wstringbuf earlyMessages(std::ios_base::in | std::ios_base::out);
    VariableMap variables;
    PlanRecord plan;
    RunResult result{std::wstring(), 0, earlyMessages, variables};
    result.plan = &plan;
    GetSystemErrorText(0, result.text);

    // Both log streams write into the early-message buffer until the log file
    // opens, and get their own buffers back before the buffer goes.
    LogStreamCapture capture(earlyMessages);

    bool earlyEnd = false;
    try {
        earlyEnd = RunSteps(result);
        if (plan.folderCheck)
            RunFolderCheck(result);
    } catch (...) {
        HandleRunException(result);
    }

    return FinishRun(result, earlyEnd);
}

int SettleExitCodes(RunResult& result, bool earlyEnd) noexcept {
    try {
        // Success is the installer's to say, whatever number its message had.
        const int byDefault = earlyEnd                 ? result.code
                              : result.installerFailed ? static_cast<int>(RESULT_GENERIC_FAILURE)
                                                       : FinalExitCode(result.code);
        const int byInstaller = InstallerExitCode(result.end, result.installerResult);
        if (result.plan) {
            result.plan->exitCode = byDefault;
            result.plan->installerExitCode = byInstaller;
        }
        return WantsInstallerExitCodes(result.variables) ? byInstaller : byDefault;
    } catch (...) {
        // Memory ran out: a failure, which a script can still read.
    }
    return RESULT_GENERIC_FAILURE;
}

nlohmann::ordered_json PlanInProcess(const std::wstring& planAs, PlanRecord& record, VariableMap& variables) {
    std::wstringbuf lines(std::ios_base::in | std::ios_base::out);
    RunResult result{std::wstring(), 0, lines, variables};
    result.plan = &record;
    GetSystemErrorText(0, result.text);
    const LogStreamCapture capture(lines);
    bool earlyEnd = false;
    try {
        earlyEnd = RunSteps(result, planAs);
    } catch (...) {
        HandleRunException(result);
    }
    SettleExitCodes(result, earlyEnd);
    // The result line the report logs before it writes the plan.
    WriteLogLine(static_cast<DWORD>(result.code), result.text,
                 result.code == 0 && !result.installerFailed ? LOG_INFO : LOG_ERROR);
    FlushLogStreams();
    return MakePlan(result);
}

int FinishRun(RunResult& result, bool earlyEnd) noexcept {
    int exitCode = SettleExitCodes(result, earlyEnd);
    bool installerCodes = false;
    try {
        installerCodes = WantsInstallerExitCodes(result.variables);
    } catch (...) {
    }
    try {
        ReportCompletion(result);
    } catch (...) {
        // The result stands even when it cannot be reported.
    }
    // A plan that was asked for and not written is no success, whatever
    // the run would have done.
    if (result.plan && result.plan->planRun && !result.plan->written)
        exitCode = installerCodes ? static_cast<int>(ERROR_INSTALL_FAILURE)
                                  : static_cast<int>(RESULT_GENERIC_FAILURE);
    g_variables = nullptr;
    return exitCode;
}
