// Times one run of a Windows program from the Windows side: from just before
// CreateProcessW to the end of the wait, with the performance counter.
// Optionally follows the peak working set of the child, or of the child and
// every process it starts (--tree), while they run, and checks the exit code
// and whether a product is registered afterwards. A dialog that the child
// shows fails the run (and is closed).
//
// Usage: qz-bench-run.exe [--cwd DIR] [--expect CODE] [--peak | --tree]
//                         [--installed CODE | --removed CODE] PROGRAM [ARGUMENTS...]
// Prints one line: "ms=<elapsed> exit=<code>[ peak=<bytes>][ tree=<name>:<bytes>,...]".
// With --tree the peak is the sum of each process's own peak, and the tree
// lists them in the order they were found. Exits with 0 when the run ended as
// expected, 3 when it did not (the line says why), 2 on bad usage.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/process_runner.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

// Time-out of one run: an installation that hangs must not hang the benchmark.
constexpr DWORD kRunTimeoutMs = 600000;

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// The child's peak working set so far (0 when it cannot be read).
SIZE_T PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.PeakWorkingSetSize : 0;
}

// The child and the processes it starts, and their children, found by their
// parent's id while they run. Each member's peak is its own high-water mark,
// read while it runs; a process that starts and ends between two samples is
// missed, and so are the last milliseconds of each.
class ProcessTree {
public:
    explicit ProcessTree(DWORD root) : m_root(root) {}

    void Sample() {
        if (m_members.empty())
            Add(m_root, L"");
        const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (snapshot.valid()) {
            std::vector<PROCESSENTRY32W> all;
            PROCESSENTRY32W entry{};
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
                 more = Process32NextW(snapshot.get(), &entry))
                all.push_back(entry);
            // A child found in this pass may have children of its own in the same snapshot.
            for (bool found = true; found;) {
                found = false;
                for (const PROCESSENTRY32W& process : all) {
                    if (!Has(process.th32ProcessID) && Has(process.th32ParentProcessID)) {
                        Add(process.th32ProcessID, process.szExeFile);
                        found = true;
                    }
                }
            }
            // A process caught as it starts may have no image name yet.
            for (Member& member : m_members)
                for (const PROCESSENTRY32W& process : all)
                    if (member.name.empty() && process.th32ProcessID == member.id)
                        member.name = process.szExeFile;
        }
        for (Member& member : m_members) {
            const SIZE_T now = member.handle.valid() ? PeakWorkingSet(member.handle.get()) : 0;
            if (now > member.peak)
                member.peak = now;
        }
    }

    SIZE_T Peak() const {
        SIZE_T sum = 0;
        for (const Member& member : m_members)
            sum += member.peak;
        return sum;
    }

    // "name:bytes,..." without spaces, so that the line stays one field per value.
    std::string Describe() const {
        std::string text;
        for (const Member& member : m_members) {
            if (!text.empty())
                text += ",";
            for (wchar_t c : member.name)
                text += c == L' ' ? '_' : c < 0x80 ? static_cast<char>(c) : '?';
            text += ":" + std::to_string(member.peak);
        }
        return text;
    }

private:
    struct Member {
        DWORD id;
        std::wstring name;
        UniqueKernelHandle handle;
        SIZE_T peak;
    };

    bool Has(DWORD id) const {
        for (const Member& member : m_members)
            if (member.id == id)
                return true;
        return false;
    }

    void Add(DWORD id, const std::wstring& name) {
        m_members.push_back(
            {id, name,
             UniqueKernelHandle(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id)), 0});
    }

    DWORD m_root;
    std::vector<Member> m_members;
};

int Usage() {
    std::fwprintf(stderr, L"usage: qz-bench-run.exe [--cwd DIR] [--expect CODE] [--peak | --tree] "
                          L"[--installed CODE | --removed CODE] PROGRAM [ARGUMENTS...]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    qztest::ProcessOptions options;
    options.timeoutMs = kRunTimeoutMs;
    bool checkExit = false, peak = false, tree = false;
    DWORD expected = 0;
    std::wstring installed, removed;
    int i = 1;
    for (; i < argc; ++i) {
        const std::wstring option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == L"--cwd" && hasValue)
            options.workingDir = argv[++i];
        else if (option == L"--expect" && hasValue) {
            checkExit = true;
            expected = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (option == L"--peak")
            peak = true;
        else if (option == L"--tree")
            peak = tree = true;
        else if (option == L"--installed" && hasValue)
            installed = argv[++i];
        else if (option == L"--removed" && hasValue)
            removed = argv[++i];
        else
            break;
    }
    if (i >= argc)
        return Usage();
    const std::wstring program = argv[i++];
    std::wstring tail;
    for (; i < argc; ++i) {
        if (!tail.empty())
            tail += L" ";
        tail += qztest::QuoteArgument(argv[i]);
    }

    qztest::ProcessResult result;
    SIZE_T peakBytes = 0;
    std::string dialogText, treeText;
    LARGE_INTEGER start, end;
    try {
        QueryPerformanceCounter(&start);
        qztest::RunningProcess process(program, tail, options);
        ProcessTree processes(process.id());
        // A run that shows a dialog would wait for a user for ever: once a
        // second the runner looks for one, reports it and closes it. With
        // --peak it also reads the peak working set every 2 ms; the peak is a
        // high-water mark, so the last reading before the end is the peak of
        // the whole run, short of its last milliseconds. With --tree it reads
        // those of the child's whole tree at the same pace.
        const DWORD slice = peak ? 2 : 1000;
        const ULONGLONG deadline = GetTickCount64() + kRunTimeoutMs;
        ULONGLONG nextDialogCheck = GetTickCount64() + 1000;
        while (WaitForSingleObject(process.handle(), slice) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
            if (tree) {
                processes.Sample();
                peakBytes = processes.Peak();
            } else if (peak) {
                const SIZE_T now = PeakWorkingSet(process.handle());
                if (now > peakBytes)
                    peakBytes = now;
            }
            if (GetTickCount64() < nextDialogCheck)
                continue;
            nextDialogCheck = GetTickCount64() + 1000;
            if (HWND viewer = qztest::WaitForDialog(IDC_VIEWER_TEXT, process.id(), 0)) {
                dialogText = qztest::ToUtf8(qztest::ControlText(viewer, IDC_VIEWER_TEXT));
                qztest::PressOk(viewer);
            } else if (HWND language = qztest::WaitForDialog(IDC_LANGUAGE_COMBO, process.id(), 0)) {
                dialogText = "the language dialog";
                qztest::PressCancel(language);
            }
        }
        result = process.Wait(kRunTimeoutMs);
        QueryPerformanceCounter(&end);
        if (tree)
            treeText = processes.Describe();
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        return 3;
    }

    std::printf("ms=%.3f exit=%lu", Milliseconds(start, end), static_cast<unsigned long>(result.exitCode));
    if (peak)
        std::printf(" peak=%llu", static_cast<unsigned long long>(peakBytes));
    if (tree)
        std::printf(" tree=%s", treeText.c_str());
    std::string problem;
    if (result.timedOut)
        problem = "timed out";
    else if (!dialogText.empty())
        problem = "showed a dialog: " + dialogText;
    else if (checkExit && result.exitCode != expected)
        problem = "exit code " + std::to_string(result.exitCode) + ", expected " + std::to_string(expected);
    else if (!installed.empty() && !qztest::IsProductRegistered(installed))
        problem = "product " + qztest::ToUtf8(installed) + " is not registered after the run";
    else if (!removed.empty() && qztest::IsProductRegistered(removed))
        problem = "product " + qztest::ToUtf8(removed) + " is still registered after the run";
    else if (peak && peakBytes == 0)
        problem = "the peak working set could not be read";
    if (!problem.empty())
        std::printf(" problem=\"%s\"", problem.c_str());
    std::printf("\n");
    return problem.empty() ? 0 : 3;
}
