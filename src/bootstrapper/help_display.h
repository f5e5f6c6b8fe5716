// Help: the help file or the built-in usage text, written to the information stream.
#pragma once
#include <string>

int DisplayHelp(const std::wstring& helpFile);
