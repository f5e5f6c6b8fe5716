// The decisions of a run up to the installer call, made once: a real run
// carries them out (install/), a plan run writes them down.
#pragma once
#include <windows.h>

#include <string>

enum class InstallOperation { Install, Repair, Remove };

// "install", "repair", "remove".
const char* OperationName(InstallOperation operation);

// The installer's log mode: errors, warnings and the essentials (0xD7); with
// tracing the progress of the actions as well (0xBDF); verbose adds the
// property dump and debug output (0x3400).
DWORD InstallerLogMode(bool trace, bool verbose);

// A log mode as msiexec's /l option writes it ("iwemo" for 0xD7), in the
// order msiexec documents; the bits msiexec has no letter for (resolving the
// source, files in use) are left out.
std::wstring LogModeLetters(DWORD mode);

// The msiexec command line that makes the same installer call by hand:
// the package, the property string as it is, the user interface level
// (/qn silent, /qf full) and the log, appended to (/l<letters>+).
std::wstring MsiexecCommandLine(const std::wstring& package, const std::wstring& properties, bool silent,
                                DWORD logMode, const std::wstring& logFile);
