// The run: gather settings, plan, log, install or show help, report.
#pragma once
#include <windows.h>

#include <nlohmann/json_fwd.hpp>

#include <sstream>
#include <string>

#include "settings/variables.h"

// How the run ended, for the exit code of a deployment tool.
enum class RunEnd {
    CommandLineRefused, // before any setting is known
    SettingsRefused,    // a refused control or response file, validation or derivation
    PackageNotFound,    // the package file does not exist, or no package matches by name
    UserCancelled,      // the user cancelled the language dialog
    FileInUse,          // a file to install could not be held: another program has it open for writing
    TransformFailed,    // a transform to install with is missing, unreadable, or does not apply
    HelpShown,
    InstallerCalled, // the installer's own return value decides
    Failed,          // an exception ended the run
    Planned,         // a plan run that got as far as the installer call
    PatchRefused,    // a patch cannot be used: its installer code (1635, 1636, 1642) decides
};

struct PlanRecord;

// The result of the run, handed to the completion report.
struct RunResult {
    std::wstring text;       // result text
    int code = 0;            // result code
    std::wstringbuf& buffer; // the early-message buffer
    VariableMap& variables;  // the run's settings
    RunEnd end = RunEnd::Failed;
    unsigned installerResult = 0; // what the installer returned, when it was called
    // The installer returned a failure: the run failed, even when the number
    // of the message it said with (the result code) is one that reads as
    // success (0, 1641 or 3010).
    bool installerFailed = false;
    bool helpReached = false; // the run got to showing help (even if that then failed)
    // Why a run whose settings were refused ended (the message that says so,
    // then what the settings left unused), for the exit file; empty otherwise.
    std::wstring reason = std::wstring();
    PlanRecord* plan = nullptr; // what the plan shows; every run keeps it
};

// The whole run; returns the process exit code.
int RunBootstrapper();

// Turns the exception in flight into the result: a WinException (or
// MSIException) gives its error number and text, another standard exception
// code 1 and its text, anything else code 1 and message 109. Call from a catch block.
void HandleRunException(RunResult& result) noexcept;

// Exit code of a run that reached planning: 0 for 0, 1641 and 3010, else 1.
int FinalExitCode(int resultCode);

// Whether the installer's own value is a failure (anything but 0, 1641 and 3010).
bool IsInstallerFailure(unsigned installerResult);

// The end of every run: the exit code (the result code after an early end,
// else FinalExitCode, or the installer's code when asked for), then the
// completion report. When memory runs out here, the exit code is 1 and what
// can still be reported is.
int FinishRun(RunResult& result, bool earlyEnd) noexcept;

// The exit codes of a finished run, by default and with installer codes,
// noted in its plan; returns the one it ends with (see FinishRun).
int SettleExitCodes(RunResult& result, bool earlyEnd) noexcept;

// One plan run inside this process, with its own settings, log lines and
// plan record, and QZ_SETUP_PLAN_AS taken as `planAs` whatever the settings
// say: everything a plan run with that setting does up to its report, then
// its plan as it would write it. Nothing is shown or written.
nlohmann::ordered_json PlanInProcess(const std::wstring& planAs, PlanRecord& record, VariableMap& variables);

// True when the settings ask for Windows Installer exit codes
// (QZ_SETUP_EXIT_CODE=INSTALLER, exactly).
bool WantsInstallerExitCodes(const VariableMap& variables);

// The exit code as msiexec would give it: 0 for help and for a plan that got
// as far as the installer, the installer's own
// return value once it was called, 1602 for a cancelled language dialog,
// 1619 for a package that is not there, 1618 (retry later, as for a busy
// installer) for a file to install that another program has open for
// writing, 30665 for a refused command line and 1603 for every other end.
int InstallerExitCode(RunEnd end, unsigned installerResult);

// Result codes of the run.
enum : int {
    RESULT_GENERIC_FAILURE = 1,
    RESULT_RESPONSE_FILE_MISSING = 2,
    RESULT_INVALID_SETTINGS = 30665,
};
