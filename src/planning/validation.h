// Refuses settings that cannot lead to a useful run.
#pragma once
#include "settings/variables.h"

// What a refusal of the plan was about, for callers that report it as an
// installer code: the package is not there (a missing package file, or none
// that matches by name), or anything else.
enum class PlanRefusal { None, PackageNotFound, Other };

// True when the settings pass. On a refusal one error line (no code) explains
// why: no package named (128), a package file that is not there (125), a help
// file that is not there (126), an unknown mode (127), then an unknown
// QZ_SETUP_EXIT_CODE or QZ_SETUP_BUSY_WAIT value (127), in that order of
// checking; `refusal`, when given, says which kind. File system failures
// raise a WinException.
bool ValidateSettings(const VariableMap& variables, PlanRefusal* refusal = nullptr);
