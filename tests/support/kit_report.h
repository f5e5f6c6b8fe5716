// The test kit's report: what each test program's run came to, read from
// GoogleTest's closing summary, and the report's lines.
#pragma once
#include <windows.h>

#include <string>

namespace qztest {

struct TestCounts {
    bool summary = false; // the closing summary was found
    unsigned ran = 0;
    unsigned passed = 0;
    unsigned skipped = 0;
    unsigned failed = 0;
};

// Reads GoogleTest's closing summary ("[==========] N tests ... ran.",
// "[  PASSED  ] N tests.", "[  SKIPPED ] N tests, listed below:",
// "[  FAILED  ] N tests, listed below:") from a program's output.
TestCounts ReadTestCounts(const std::string& output);

struct ProgramRun {
    std::string program;
    DWORD exitCode = 0;
    bool timedOut = false;
    double seconds = 0;
    TestCounts counts;
};

// "passed", "skipped" (every test skipped) or "failed" (a failed test, a
// non-zero exit code, a time-out, or no summary at all).
std::string Verdict(const ProgramRun& run);

// One line of the report, e.g. "qz-tests-diag: passed in 12.3 s (110 tests: 108 passed, 2 skipped)".
std::string ReportLine(const ProgramRun& run);

} // namespace qztest
