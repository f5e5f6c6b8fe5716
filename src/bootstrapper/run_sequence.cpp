#include "bootstrapper/run_sequence.h"

#include <exception>
#include <utility>

#include "bootstrapper/completion_report.h"
#include "bootstrapper/help_display.h"
#include "diag/bootstrap_log.h"
#include "diag/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "install/message_handler.h"
#include "install/package_run.h"
#include "install/pre_install.h"
#include "planning/derived_settings.h"
#include "system/path_helpers.h"
#include "planning/validation.h"
#include "settings/command_line.h"
#include "settings/value_expansion.h"
#include "settings/variable_file.h"

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

// Reads a control or response file into `variables` without overriding what
// is there; on a refusal the result holds the reader's code and `messageId`
// formatted with the path and the offending line.
FileOutcome MergeSettingsFile(const std::wstring& path, VariableMap& variables, WORD messageId,
                              RunResult& result) {
    VariableMap fileVariables;
    std::wstring offending;
    const int code = LoadPIFRspFile(path, fileVariables, offending);
    if (code != 0) {
        result.text.clear();
        FormatResourceMessage(messageId, result.text, path, offending);
        result.code = code;
        return FileOutcome::Refused;
    }
    MergeVariables(variables, fileVariables);
    return FileOutcome::Merged;
}

// Steps 3 to 15. Returns true for an early end (the exit code is the result code).
bool RunSteps(RunResult& result) {
    VariableMap& variables = result.variables;

    std::wstring moduleDir;
    GetModuleDir(moduleDir);
    SetCurrentDirectoryW(moduleDir.c_str());

    // Command line.
    {
        VariableMap parsed;
        std::wstring offending;
        const int code = ParseCommandLine(parsed, offending);
        if (code != 0) {
            result.text.clear();
            FormatResourceMessage(IDS_BAD_COMMAND_LINE, result.text, offending, GetParseErrorText(code));
            result.code = RESULT_INVALID_SETTINGS;
            result.end = RunEnd::CommandLineRefused;
            return true;
        }
        variables.swap(parsed);
    }

    // Control file beside the executable.
    result.end = RunEnd::SettingsRefused;
    const std::wstring controlFile = GetControlFilePath();
    if (FileExists(controlFile) &&
        MergeSettingsFile(controlFile, variables, IDS_CONTROL_FILE_ERROR, result) == FileOutcome::Refused)
        return true;

    // Response file.
    const auto response = variables.find(QZ_SETUP_RESPONSE_FILE);
    if (response != variables.end()) {
        std::wstring path = ExpandEnvironmentVars(response->second);
        Rel2AbsFilePath(path);
        if (!FileExists(path)) {
            result.text.clear();
            FormatResourceMessage(IDS_RESPONSE_FILE_MISSING, result.text, path);
            result.code = RESULT_RESPONSE_FILE_MISSING;
            return true;
        }
        if (MergeSettingsFile(path, variables, IDS_RESPONSE_FILE_ERROR, result) == FileOutcome::Refused)
            return true;
    }

    ExpandControlVariables(variables);

    PlanRefusal refusal = PlanRefusal::None;
    if (!ValidateSettings(variables, &refusal) || !DeriveSettings(variables, &refusal)) {
        result.code = RESULT_INVALID_SETTINGS;
        result.end =
            refusal == PlanRefusal::PackageNotFound ? RunEnd::PackageNotFound : RunEnd::SettingsRefused;
        GetSystemErrorText(ERROR_BAD_ARGUMENTS, result.text);
        return false;
    }
    result.end = RunEnd::Failed;

    if (variables.count(QZ_SETUP_HELP)) {
        const auto helpFile = variables.find(QZ_SETUP_HELP_FILE);
        result.helpReached = true;
        result.code = DisplayHelp(helpFile != variables.end() ? helpFile->second : std::wstring());
        result.end = RunEnd::HelpShown;
        return false;
    }

    SetLogFile(variables[QZ_SETUP_LOG_FILE], result.buffer);
    ExpandPassThroughVariables(variables);
    g_variables = &variables;

    unsigned outcome = static_cast<unsigned>(CoreBootstrapper_PreInstall());
    if (outcome == 0)
        outcome = RunPackage();

    result.end = RunEnd::InstallerCalled;
    result.installerResult = outcome;
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
    return (resultCode == 0 || resultCode == ERROR_SUCCESS_REBOOT_INITIATED ||
            resultCode == ERROR_SUCCESS_REBOOT_REQUIRED)
               ? 0
               : 1;
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
        return ERROR_SUCCESS;
    case RunEnd::InstallerCalled:
        return static_cast<int>(installerResult);
    case RunEnd::UserCancelled:
        return ERROR_INSTALL_USEREXIT;
    case RunEnd::PackageNotFound:
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    case RunEnd::SettingsRefused:
    case RunEnd::Failed:
        break;
    }
    return ERROR_INSTALL_FAILURE;
}

int RunBootstrapper() {
    std::wstringbuf earlyMessages(std::ios_base::in | std::ios_base::out);
    VariableMap variables;
    RunResult result{std::wstring(), 0, earlyMessages, variables};
    GetSystemErrorText(0, result.text);

    // Both log streams write into the early-message buffer until the log file
    // opens, and get their own buffers back before the buffer goes.
    LogStreamCapture capture(earlyMessages);

    bool earlyEnd = false;
    try {
        earlyEnd = RunSteps(result);
    } catch (...) {
        HandleRunException(result);
    }

    return FinishRun(result, earlyEnd);
}

int FinishRun(RunResult& result, bool earlyEnd) noexcept {
    int exitCode = RESULT_GENERIC_FAILURE;
    try {
        exitCode = earlyEnd ? result.code : FinalExitCode(result.code);
        if (WantsInstallerExitCodes(result.variables))
            exitCode = InstallerExitCode(result.end, result.installerResult);
    } catch (...) {
        // Memory ran out: a failure, which a script can still read.
    }
    try {
        ReportCompletion(result);
    } catch (...) {
        // The result stands even when it cannot be reported.
    }
    g_variables = nullptr;
    return exitCode;
}
