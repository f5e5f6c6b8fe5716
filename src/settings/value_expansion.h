// Environment references (%NAME%) in setting values.
#pragma once
#include <windows.h>

#include <string>

#include "settings/variables.h"

std::wstring ExpandEnvironmentVars(const wchar_t* text);
inline std::wstring ExpandEnvironmentVars(const std::wstring& text) {
    return ExpandEnvironmentVars(text.c_str());
}

// Expands the values of the control variables of g_expandedVariableNames in place.
void ExpandControlVariables(VariableMap& variables);

// Expands every other value in place, pointing program-files references at the
// 64-bit folders first, unless the package's platform (`packagePlatform`, as
// the package's Template gives it) is Intel (0): then nothing is changed.
void ExpandPassThroughVariables(VariableMap& variables, DWORD packagePlatform);
