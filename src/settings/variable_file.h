// The control file qz-setup.dat and the response file: UTF-8 lines of NAME=VALUE.
#pragma once
#include <string>

#include "settings/variables.h"

// 0: `variables` holds the file's settings; 1: a line without "=", `offending`
// holds it and `variables` is untouched. Raises a stream failure when the file
// cannot be opened.
int LoadPIFRspFile(const std::wstring& path, VariableMap& variables, std::wstring& offending);

// The parser behind it, over decoded text.
int ParseVariableFile(const std::wstring& text, VariableMap& variables, std::wstring& offending);
