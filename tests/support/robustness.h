// Black-box runs of the built programs that must end cleanly: the outcome of
// one run (exit code, dialogs, crash reports, unexpected windows, time), the
// crash debugger replaced while a test runs, the mounts the fault cases use,
// and a small deterministic random source for generated input.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace qztest {

// Replaces Wine's crash debugger (AeDebug, both registry views) with
// qz-crash-sink.exe while it lives, and gives the previous values back.
// Crashed processes then end at once with their exception code, without a
// dialog and without a backtrace, and leave a report in CrashReportDir().
class CrashSink {
public:
    CrashSink();
    ~CrashSink();
    CrashSink(const CrashSink&) = delete;
    CrashSink& operator=(const CrashSink&) = delete;

private:
    struct SavedValue {
        REGSAM view;
        const wchar_t* name;
        bool present;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::vector<SavedValue> m_saved;
};

std::wstring CrashReportDir();
// The reports written since the last ClearCrashReports (their texts).
std::vector<std::wstring> CrashReports();
void ClearCrashReports();

// Exit codes that only a crash or an abort gives.
bool IsCrashExitCode(DWORD code);

struct GuardedRun {
    DWORD exitCode = 0;
    bool timedOut = false;
    DWORD elapsedMs = 0;
    std::vector<std::wstring> dialogs;           // text viewer texts, each closed with OK
    std::vector<std::wstring> unexpectedWindows; // any other window the process showed
    std::vector<std::wstring> crashReports;      // from the crash sink, for any process
    bool Crashed() const {
        return IsCrashExitCode(exitCode) || !crashReports.empty() || !unexpectedWindows.empty();
    }
    std::string Describe() const;
};

struct GuardedOptions {
    ProcessOptions process; // workingDir defaults to the scratch directory
    // Called once the process has started (for a fault injected while it runs).
    std::function<void(const RunningProcess&)> onStarted;
};

// Runs dir\qz-setup.exe (copied there when missing) with each argument quoted;
// closes text viewers, records and ends anything else it shows.
GuardedRun RunSetupGuarded(const std::wstring& dir, const std::vector<std::wstring>& arguments,
                           const GuardedOptions& options = {});
// Any program, the same way.
GuardedRun RunProgramGuarded(const std::wstring& exe, const std::wstring& tail,
                             const GuardedOptions& options = {});
// The same with a raw argument tail.
GuardedRun RunSetupRawGuarded(const std::wstring& dir, const std::wstring& tail,
                              const GuardedOptions& options = {});

// Places prepared on the Linux side by robust-mounts.sh for the fault cases.
struct PreparedPlace {
    bool available = false;
    std::wstring path; // ends in a backslash
    std::wstring why;  // when not available
};
PreparedPlace ReadOnlyPlace(); // a read-only bind mount
PreparedPlace FullDiskDrive(); // a small tmpfs mapped as a drive letter

// Empties the full-disk drive, then fills it with one file, "filler", so that
// `pages` pages of 4 KiB stay free. False when it could not be filled.
bool FillDriveLeaving(const PreparedPlace& drive, unsigned pages);

// xorshift-style generator with fixed arithmetic: the same seed gives the same
// inputs with any compiler or library.
class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed)
        : m_state(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // In [0, bound).
    std::uint32_t Below(std::uint32_t bound) {
        return bound == 0 ? 0 : static_cast<std::uint32_t>(Next() % bound);
    }
    bool OneIn(std::uint32_t n) { return Below(n) == 0; }

private:
    std::uint64_t m_state;
};

// Byte-level mutations of `input`: flips, overwrites, insertions, deletions,
// truncation and block copies, a few per call.
std::string MutateBytes(const std::string& input, SeededRandom& random);

// Writes `bytes` little-endian UTF-16 of `text`.
std::string Utf16LeBytes(const std::wstring& text);

} // namespace qztest

namespace qztest {

// The bootstrap log of a run as the tests judge it.
struct BootstrapLog {
    bool exists = false;
    std::string bytes;
    // Whether Wine's installer log was written into the file (it writes from
    // offset 0, over the start of the bootstrapper's lines).
    bool installerWrote = false;
    // The lines of the file when it is wholly the bootstrapper's (byte-order
    // mark first); empty otherwise.
    std::vector<std::wstring> lines;
};
BootstrapLog ReadBootstrapLog(const std::wstring& path);

// A log line as the bootstrapper writes it, with its CR LF.
std::wstring LogLine(const wchar_t* kind, const std::wstring& code, const std::wstring& text);
std::wstring ResultLogLine(int code, const std::wstring& text);
extern const wchar_t kOpeningLine[];
extern const wchar_t kClosingLine[];

// Checks the end of a log against what the bootstrapper wrote before the
// fault or the installer call (`before`, starting with the opening line) and
// after it (`after`, the result and closing lines): every line of `before`
// that the installer log did not write over is still there, in order, and
// the file ends with `after`. An empty string when it holds, else what differs.
// An exit file as written in text mode: its result lines, then the text
// with each LF written as CR LF.
std::string ExitFileText(int normalised, int code, const std::wstring& text);

std::string CheckLogEnd(const BootstrapLog& log, const std::wstring& before, const std::wstring& after);

// The package banner line the package run writes before the installer call.
std::wstring BannerLine(const std::wstring& packagePath, const std::wstring& productName,
                        const std::wstring& version);

} // namespace qztest
