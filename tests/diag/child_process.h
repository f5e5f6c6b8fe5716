// Scenarios that need a process of their own (the resource module is looked
// up once per process, the log file is process-wide and closes at exit) run
// as hidden tests of this same program: DiagChild.DISABLED_<name>, started
// with its own working directory and environment. A child scenario ends with
// MarkChildDone(), so a parent can tell a passing child from one that did not
// run at all.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "support/process_runner.h"
#include "support/test_env.h"

namespace diagtest {

const wchar_t kDoneVariable[] = L"QZ_DIAG_CHILD_DONE";

inline std::wstring ThisProgram() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

// The value of an environment variable of this process (empty when unset).
inline std::wstring ChildSetting(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length < 1024 ? std::wstring(value, length) : std::wstring();
}

inline void MarkChildDone() {
    const std::wstring marker = ChildSetting(kDoneVariable);
    if (!marker.empty())
        qztest::WriteFileBytes(marker, "done");
}

struct ChildOutcome {
    DWORD exitCode = 0;
    bool completed = false; // the scenario ran to its end
    bool passed() const { return exitCode == 0 && completed; }
};

// Runs DiagChild.DISABLED_<scenario> of `program` (this test program unless
// given) and waits for its end.
inline ChildOutcome RunChild(const std::wstring& scenario, qztest::ProcessOptions options,
                             const std::wstring& program = ThisProgram()) {
    qztest::TempDir scratch;
    const std::wstring marker = scratch / L"done";
    options.setEnv[kDoneVariable] = marker;
    const qztest::ProcessResult result = qztest::RunProgramArgs(
        program, {L"--gtest_filter=DiagChild.DISABLED_" + scenario, L"--gtest_also_run_disabled_tests"},
        options);
    ChildOutcome outcome;
    outcome.exitCode = result.exitCode;
    outcome.completed = !result.timedOut && qztest::PathExists(marker);
    return outcome;
}

} // namespace diagtest
