// Refuses settings that cannot lead to a useful run.
#pragma once
#include <windows.h>

#include <string>

#include "settings/variables.h"

// What a refusal of the plan was about, for callers that report it as an
// installer code: the package is not there (a missing package file, or none
// that matches by name), or anything else.
enum class PlanRefusal { None, PackageNotFound, Other };

// The message that explained a refusal, as it was logged.
struct RefusalMessage {
    WORD id = 0;
    std::wstring text;
};

// True when the settings pass. On a refusal one error line (no code) explains
// why: no package named (128), a package file that is not there (125), a help
// file that is not there (126), an unknown mode (127), then an unknown
// QZ_SETUP_EXIT_CODE or QZ_SETUP_BUSY_WAIT value, and a QZ_SETUP_LANG_TRANSFORM
// with a double quote (127), in that order of
// checking; `refusal`, when given, says which kind, and `message` which
// message said so. File system failures raise a WinException; a package file
// that another program has open for writing raises a FileHoldFailure.
bool ValidateSettings(const VariableMap& variables, PlanRefusal* refusal = nullptr,
                      RefusalMessage* message = nullptr);
