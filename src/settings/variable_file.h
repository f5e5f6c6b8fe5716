// The control file qz-setup.dat and the response file: UTF-8 lines of NAME=VALUE.
#pragma once
#include <string>
#include <vector>

#include "settings/variables.h"

// A setting whose name has blanks before or after it: it is stored under that
// name, which then is not the name of the setting it looks like.
struct BlankNamedSetting {
    std::wstring name; // as the line has it, blanks included
    unsigned line = 0; // counted from 1, every line of the file included
};

// 0: `variables` holds the file's settings; 1: a line without "=", `offending`
// holds it and `variables` is untouched. Raises a stream failure when the file
// cannot be opened. `blankNames`, when given, receives on 0 the settings
// whose names have blanks around them, in file order.
int LoadPIFRspFile(const std::wstring& path, VariableMap& variables, std::wstring& offending,
                   std::vector<BlankNamedSetting>* blankNames = nullptr);

// The parser behind it, over decoded text.
int ParseVariableFile(const std::wstring& text, VariableMap& variables, std::wstring& offending,
                      std::vector<BlankNamedSetting>* blankNames = nullptr);
