// Completes the plan: everything the run needs that the user did not give.
#pragma once
#include "settings/variables.h"

bool DeriveSettings(VariableMap& variables);
