// Runs the real qz-setup.exe from a scratch directory, the way a user or a
// deployment script does, and collects what it showed and returned.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace qztest {

struct SetupRun {
    DWORD exitCode = 0;
    bool timedOut = false;
    // Text of each text viewer dialog shown, as the rich edit control gives it
    // back (its line ends are CR), in order; each was closed with OK.
    std::vector<std::wstring> dialogs;
    // Whether the exit file already existed while each dialog was open.
    std::vector<bool> exitFileWhileDialog;
};

struct SetupOptions {
    ProcessOptions process;       // workingDir defaults to the scratch directory
    std::wstring exitFileToWatch; // full path, checked while a dialog is open
    // Called with each language dialog (instead of the text viewer handling);
    // it must close the dialog.
    std::function<void(HWND)> onLanguageDialog;
    // Called with each text viewer while it is open, before it is read and closed.
    std::function<void(HWND)> onTextViewer;
};

// Copies bin/qz-setup.exe into `dir` (ending in a backslash) unless it is there.
std::wstring InstallSetupExe(const std::wstring& dir);

// Runs dir\qz-setup.exe with the given arguments (each quoted).
SetupRun RunSetup(const std::wstring& dir, const std::vector<std::wstring>& arguments,
                  const SetupOptions& options = {});
// RunSetup, checked to leave nothing behind (a plan run, say): no file or
// folder comes beside the program but those `kept` accepts (paths relative to
// `dir`), and nothing new in TEMP (`dir` itself left out when it lies there).
SetupRun RunSetupLeavingNothing(const std::wstring& dir, const std::vector<std::wstring>& arguments,
                                const SetupOptions& options,
                                const std::function<bool(const std::wstring&)>& kept);
// The same with the command line's arguments as one text, as a script or a
// deployment tool writes them.
SetupRun RunSetupCommandLine(const std::wstring& dir, const std::wstring& argumentsText,
                             const SetupOptions& options = {});

// The exit file's bytes as a run writes them: the normalised code, the code
// and the text, in text mode (each line feed written as CR LF).
std::string ExitFileBytes(int normalised, int code, const std::wstring& text);

// The exit file's three parts (its lines end in CR LF; the text may hold more
// lines). A file of fewer than three lines is all `normalised`.
struct ExitFileParts {
    std::string normalised, code, text;
};
ExitFileParts ReadExitFile(const std::wstring& path);

// The bootstrap log (UTF-16LE) split into its CR LF lines; the byte-order mark
// is checked and removed (an empty result when it is missing).
std::vector<std::wstring> ReadLogLines(const std::wstring& path, bool* hadByteOrderMark = nullptr);

} // namespace qztest
