// Runs a Windows program from a test and reads its exit code on the Windows
// side (Wine hands only the low byte of an exit code to Linux).
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace qztest {

struct ProcessOptions {
    std::wstring workingDir;                     // empty: the test's own
    std::map<std::wstring, std::wstring> setEnv; // added to (or replacing in) the inherited environment
    std::vector<std::wstring> unsetEnv;          // removed from the inherited environment
    DWORD timeoutMs = 120000;                    // the process is killed after this
    std::wstring outputFile;                     // when set, standard output and error go to this file
    std::wstring desktop; // "station\\desktop" to start in (made when missing); empty: the caller's
};

struct ProcessResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    DWORD processId = 0;
};

// Quotes one argument by the CommandLineToArgvW rules.
std::wstring QuoteArgument(const std::wstring& argument);

// Starts `exe` with the given raw command-line tail (appended after the quoted exe path).
class RunningProcess {
public:
    RunningProcess(const std::wstring& exe, const std::wstring& argumentsTail,
                   const ProcessOptions& options = {});
    ~RunningProcess(); // kills the process if it still runs
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    DWORD id() const { return m_pi.dwProcessId; }
    HANDLE handle() const { return m_pi.hProcess; }
    // Waits for the end (killing the process on time-out).
    ProcessResult Wait(DWORD timeoutMs);

private:
    PROCESS_INFORMATION m_pi{};
};

// Runs to completion.
ProcessResult RunProgram(const std::wstring& exe, const std::wstring& argumentsTail,
                         const ProcessOptions& options = {});
// Quotes every argument.
ProcessResult RunProgramArgs(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                             const ProcessOptions& options = {});

} // namespace qztest
