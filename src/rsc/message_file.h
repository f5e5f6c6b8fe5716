// The message file a translator edits: UTF-8 text, one message per line.
//
//   # comment lines start with '#'; blank lines are ignored
//   LANGUAGE ID TEXT
//
// LANGUAGE and ID are decimal numbers (a Windows language id such as 1031,
// or 7 for every German variant, and the message id), each followed by one
// blank. TEXT runs to the end of the line. In it, "\n" stands for a line feed,
// "\r" for a carriage return, "\\" for a backslash and "\s" for a blank (the
// dump writes a blank at the end of a text that way, so that an editor that
// trims lines keeps it). A line may end in LF or CR LF; a byte-order mark at
// the start is allowed.
#pragma once
#include <string>
#include <vector>

#include "rsc/string_tables.h"

// Why a message file was refused, and where.
struct MessageFileError {
    unsigned line = 0; // 0: the file as a whole
    std::string reason;
};

// The file's text for `messages`, after a header of comment lines
// (`header`, one comment line per element).
std::string WriteMessageFile(const std::vector<TableMessage>& messages,
                             const std::vector<std::string>& header);

// Reads a message file. False, with the first error, when a line is not
// valid UTF-8 or not a message as above. `lines` receives the line number of
// each message read.
bool ReadMessageFile(const std::string& bytes, std::vector<TableMessage>& messages,
                     std::vector<unsigned>& lines, MessageFileError& error);

// UTF-8 of wide text, and back (false for bytes that are not valid UTF-8).
std::string ToUtf8(const std::wstring& text);
bool FromUtf8(const std::string& bytes, std::wstring& text);
