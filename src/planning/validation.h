// Refuses settings that cannot lead to a useful run.
#pragma once
#include "settings/variables.h"

bool ValidateSettings(const VariableMap& variables);
