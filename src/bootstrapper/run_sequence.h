// The run: gather settings, plan, log, install or show help, report.
#pragma once
#include <windows.h>

#include <sstream>
#include <string>

#include "settings/variables.h"

// The result of the run, handed to the completion report.
struct RunResult {
    std::wstring text;       // result text
    int code = 0;            // result code
    std::wstringbuf& buffer; // the early-message buffer
    VariableMap& variables;  // the run's settings
};

// The whole run; returns the process exit code.
int RunBootstrapper();

// Turns the exception in flight into the result: a WinException (or
// MSIException) gives its error number and text, another standard exception
// code 1 and its text, anything else code 1 and message 109. Call from a catch block.
void HandleRunException(RunResult& result) noexcept;

// Exit code of a run that reached planning: 0 for 0, 1641 and 3010, else 1.
int FinalExitCode(int resultCode);

// Result codes of the run.
enum : int {
    RESULT_GENERIC_FAILURE = 1,
    RESULT_RESPONSE_FILE_MISSING = 2,
    RESULT_INVALID_SETTINGS = 30665,
};
