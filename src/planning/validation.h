// Refuses settings that cannot lead to a useful run.
#pragma once
#include "settings/variables.h"

// True when the settings pass. On a refusal one error line (no code) explains
// why: no package named (128), a package file that is not there (125), a help
// file that is not there (126) or an unknown mode (127), in that order of
// checking. File system failures raise a WinException.
bool ValidateSettings(const VariableMap& variables);
