// Times one run of a Windows program from the Windows side: from just before
// CreateProcessW to the end of the wait, with the performance counter.
// Optionally follows the child's peak working set while it runs, and checks
// the exit code and whether a product is registered afterwards. A dialog that
// the child shows fails the run (and is closed).
//
// Usage: qz-bench-run.exe [--cwd DIR] [--expect CODE] [--peak] [--installed CODE | --removed CODE]
//                         PROGRAM [ARGUMENTS...]
// Prints one line: "ms=<elapsed> exit=<code>[ peak=<bytes>]". Exits with 0
// when the run ended as expected, 3 when it did not (the line says why), 2 on
// bad usage.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/process_runner.h"
#include "support/test_env.h"

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

int Usage() {
    std::fwprintf(stderr, L"usage: qz-bench-run.exe [--cwd DIR] [--expect CODE] [--peak] "
                          L"[--installed CODE | --removed CODE] PROGRAM [ARGUMENTS...]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    qztest::ProcessOptions options;
    options.timeoutMs = kRunTimeoutMs;
    bool checkExit = false, peak = false;
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
    std::string dialogText;
    LARGE_INTEGER start, end;
    try {
        QueryPerformanceCounter(&start);
        qztest::RunningProcess process(program, tail, options);
        // A run that shows a dialog would wait for a user for ever: once a
        // second the runner looks for one, reports it and closes it. With
        // --peak it also reads the peak working set every 2 ms; the peak is a
        // high-water mark, so the last reading before the end is the peak of
        // the whole run, short of its last milliseconds.
        const DWORD slice = peak ? 2 : 1000;
        const ULONGLONG deadline = GetTickCount64() + kRunTimeoutMs;
        ULONGLONG nextDialogCheck = GetTickCount64() + 1000;
        while (WaitForSingleObject(process.handle(), slice) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
            if (peak) {
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
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        return 3;
    }

    std::printf("ms=%.3f exit=%lu", Milliseconds(start, end), static_cast<unsigned long>(result.exitCode));
    if (peak)
        std::printf(" peak=%llu", static_cast<unsigned long long>(peakBytes));
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
