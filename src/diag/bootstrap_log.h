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

// Makes the log file anew (a file of the run's own: whatever stood at the path
// has its name removed first, see CreateOwnFile), creating its directory
// chain, writes the byte-order mark and the opening line, moves the buffered
// lines into it and points both streams at it. Returns the path of the file
// made: when the name `path` cannot be had (another program holds what
// stands there, or a folder does), a fresh name beside it
// ("<name>-<n><extension>", and after 99 of them "<name>-<random><extension>"
// with sixteen random hexadecimal digits), which the line after the opening
// line names (message 148); that line is also left in the early buffer, for
// an attended user. Raises when the file cannot be made (message 112, after
// an error line with the system's reason, message 155), also when a folder of
// the path is a reparse point or another program keeps it from being held
// (HoldFolders); raises a WinException when a folder cannot be looked at or made.
std::wstring SetLogFile(const std::wstring& path, std::wstringbuf& earlyBuffer);

// The log file a run would make of `path` at this moment, looked at as
// SetLogFile looks, without making, removing or holding anything.
struct LogFilePlan {
    std::wstring path; // the file the run would use
    bool randomName =
        false; // every numbered name is taken: only a random one would do ("<random>" in `path`)
};
// Raises as SetLogFile would where it could not make the log: message 112
// where a folder of the path is refused, the system's error where a folder
// cannot be looked at.
LogFilePlan PlanLogFile(const std::wstring& path);

// Whether the log file is open.
bool IsLogFileOpen();

// Checks that `path` still names the open log file (the same volume and file
// index; a link at the path is not followed) before it is handed to the
// installer, which opens it again by name; raises the failure to open the log
// (message 112) with `location` when it does not. Nothing to check while no
// log file is open.
void ConfirmLogFile(const std::wstring& path, const wchar_t* location);

// The check of ConfirmLogFile without raising: true when `path` still names
// the open log file, or no log file is open.
bool IsLogFileStillThere(const std::wstring& path);

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
