// The end of every run: the result line in the log, the text viewer for an
// attended user with whatever was logged while no log file was open, and the
// exit file for the calling program.
#pragma once
#include <windows.h>

#include <string>

#include "bootstrapper/run_sequence.h"

void ReportCompletion(RunResult& result);

// 0 for 0, 1641 and 3010; otherwise the code itself.
int NormalisedResult(int code);

// The exit file's first line for the run: NormalisedResult of its code; but
// when the installer failed and its message's number reads as success, the
// installer's own value (the number stays on the second line).
int NormalisedResult(const RunResult& result);

// True unless QZ_SETUP_MODE is "UNATTENDED" or "UNATTENDED_UNINSTALL" in any
// letter case (only the exact names pass validation; a run with another
// spelling ends before its mode counts, and asks nobody on its way out).
// Without a mode, a run is unattended when an exit file or a response file is
// named, unless it got to showing help (`helpReached`; a help file that could
// not be opened is reported to an attended user like the help itself).
bool IsAttendedRun(const VariableMap& variables, bool helpReached = false);

// Whether the end of the run is shown in a dialog: an attended run whose
// window station somebody can see.
bool ShowsDialogs(const VariableMap& variables, bool helpReached = false);

// The exit file's text from its third line on: the result text, then, when
// the run has one, the reason it ended on a line of its own.
std::wstring ExitFileText(const RunResult& result);

// Writes the exit file: `normalised` (the first line), result code, result
// text (UTF-8, CR LF).
// The file is made anew by the run (see CreateOwnFile): whatever stood at the
// name has its name removed, never written into. False, with the system's
// error as the last error, when it could not be made or written whole.
bool WriteExitFile(const std::wstring& path, int normalised, int code, const std::wstring& text);

// The same, without the heap, for a run whose memory has run out: `path` is
// expanded into a buffer of its own (used as it is when that fails), and the
// text converted piece by piece (a lone surrogate becomes U+FFFD).
bool WriteExitFileDirect(const std::wstring& path, int normalised, int code,
                         const std::wstring& text) noexcept;

// An exit file that could not be written: one error line (message 149, with
// the system's error as code) in the log, shown to an attended user too.
void ReportUnwritableExitFile(const std::wstring& path, DWORD error, bool attended);

// Shows `text` in the text viewer (dialog 118) until the user closes it.
void ShowTextViewer(const std::wstring& text);

// Dialog procedure of the text viewer; the creation parameter is the text.
INT_PTR CALLBACK TextViewerDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
