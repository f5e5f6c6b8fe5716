// Help: the help file or the built-in usage text, written to the information stream.
#pragma once
#include <string>

// Writes the help file's text (UTF-8, a byte-order mark dropped, line ends as
// they are) or, when there is no such file, the usage text, to the
// information stream; returns 0. Raises when an existing file cannot be opened.
int DisplayHelp(const std::wstring& helpFile);
