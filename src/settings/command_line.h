// The command line: options and NAME=VALUE pairs into a VariableMap.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "settings/variables.h"

// Parses the process's command line (GetCommandLineW). 0: `variables` holds the
// settings; 1: an option lacks its value, `offending` holds that argument and
// `variables` is untouched. `ignored`, when given, receives on 0 the
// arguments after the program's own path that set nothing (words that are
// no option, such as /L, /quiet or a stray word of a value with blanks), in
// their order; the word after QZ_SUPPRESS_REBOOT, which is its value, is not
// one of them.
int ParseCommandLine(VariableMap& variables, std::wstring& offending,
                     std::vector<std::wstring>* ignored = nullptr);

// The same over a given command-line text (split with CommandLineToArgvW).
int ParseCommandLineText(const wchar_t* commandLine, VariableMap& variables, std::wstring& offending,
                         std::vector<std::wstring>* ignored = nullptr);

// One option of the command line and the setting it gives.
struct CommandLineOption {
    const wchar_t* name;     // as it is written, letter case included
    const wchar_t* variable; // the control variable it sets
    bool takesValue;         // the next argument (or the text after "=") is its value
};

// Every option the command line knows, in the parser's order.
const CommandLineOption* CommandLineOptions(std::size_t& count);

// Description of a parse result: message 123 for 1, empty otherwise.
std::wstring GetParseErrorText(int code);
