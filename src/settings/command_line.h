// The command line: options and NAME=VALUE pairs into a VariableMap.
#pragma once
#include <string>

#include "settings/variables.h"

// Parses the process's command line (GetCommandLineW). 0: `variables` holds the
// settings; 1: an option lacks its value, `offending` holds that argument and
// `variables` is untouched.
int ParseCommandLine(VariableMap& variables, std::wstring& offending);

// The same over a given command-line text (split with CommandLineToArgvW).
int ParseCommandLineText(const wchar_t* commandLine, VariableMap& variables, std::wstring& offending);

// Description of a parse result: message 123 for 1, empty otherwise.
std::wstring GetParseErrorText(int code);
