// The bootstrap log: every line goes through WriteLogLine into the wide
// standard output (information) or error stream; both end in the log file
// once SetLogFile has run, and in the early-message buffer before that.
#pragma once
#include <windows.h>

#include <iosfwd>
#include <sstream>
#include <string>

enum LogKind : int { LOG_ERROR = 0, LOG_INFO = 1 };

// "QZSETUP:BOOTSTRAP:ERR:" or "QZSETUP:BOOTSTRAP:INFO:", the code, ":", the text, CR LF.
void WriteLogLine(const std::wstring& text, LogKind kind);
void WriteLogLine(DWORD code, const std::wstring& text, LogKind kind);

// The assembled line, as WriteLogLine writes it.
std::wstring FormatLogLine(const DWORD* code, const std::wstring& text, LogKind kind);

// Opens (and empties) the log file, creating its directory chain, writes the
// byte-order mark and the opening line, moves the buffered lines into it and
// points both streams at it. Raises when the file cannot be opened.
void SetLogFile(const std::wstring& path, std::wstringbuf& earlyBuffer);

// Whether the log file is open.
bool IsLogFileOpen();

// Flushes the information stream, then the error stream.
void FlushLogStreams();

// Points both log streams at a buffer for its lifetime, and gives them back
// their own buffers afterwards.
class LogStreamCapture {
public:
    explicit LogStreamCapture(std::wstreambuf& buffer);
    ~LogStreamCapture();
    LogStreamCapture(const LogStreamCapture&) = delete;
    LogStreamCapture& operator=(const LogStreamCapture&) = delete;

private:
    std::wstreambuf* m_out;
    std::wstreambuf* m_err;
};
