#include "support/kit_report.h"

#include <gtest/gtest.h>

namespace qztest {
namespace {

// The closing summaries GoogleTest writes, and what the report makes of them.
TEST(KitReport, ReadsTheClosingSummaryAndGivesTheVerdict) {
    const struct {
        const char* name;
        const char* output;
        DWORD exitCode;
        bool timedOut;
        TestCounts counts;
        const char* verdict;
    } cases[] = {
        {"all passed",
         "[==========] 3 tests from 1 test suite ran. (5 ms total)\r\n[  PASSED  ] 3 tests.\r\n",
         0,
         false,
         {true, 3, 3, 0, 0},
         "passed"},
        {"some skipped",
         "[==========] 4 tests from 2 test suites ran. (5 ms total)\n[  PASSED  ] 2 tests.\n"
         "[  SKIPPED ] 2 tests, listed below:\n[  SKIPPED ] A.B\n[  SKIPPED ] A.C\n",
         0,
         false,
         {true, 4, 2, 2, 0},
         "passed"},
        {"every test skipped",
         "[==========] 1 test from 1 test suite ran. (5 ms total)\n[  PASSED  ] 0 tests.\n"
         "[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] A.B\n",
         0,
         false,
         {true, 1, 0, 1, 0},
         "skipped"},
        {"one failed",
         "[==========] 2 tests from 1 test suite ran. (5 ms total)\n[  PASSED  ] 1 test.\n"
         "[  FAILED  ] 1 test, listed below:\n[  FAILED  ] A.B\n\n 1 FAILED TEST\n",
         1,
         false,
         {true, 2, 1, 0, 1},
         "failed"},
        // A test's own output may look like a summary line before the real one.
        {"a summary line inside a test's output",
         "[  FAILED  ] 9 tests, listed below:\n[==========] 2 tests from 1 test suite ran. (5 ms total)\n"
         "[  PASSED  ] 2 tests.\n",
         0,
         false,
         {true, 2, 2, 0, 0},
         "passed"},
        {"a crash before the summary", "[ RUN      ] A.B\n", 0xC0000005, false, {}, "failed"},
        {"a summary but a failing exit code",
         "[==========] 1 test from 1 test suite ran.\n[  PASSED  ] 1 test.\n",
         3,
         false,
         {true, 1, 1, 0, 0},
         "failed"},
        {"stopped after its time limit", "[ RUN      ] A.B\n", 1, true, {}, "failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run;
        run.program = "qz-tests-x";
        run.exitCode = c.exitCode;
        run.timedOut = c.timedOut;
        run.counts = ReadTestCounts(c.output);
        EXPECT_EQ(c.counts.summary, run.counts.summary);
        EXPECT_EQ(c.counts.ran, run.counts.ran);
        EXPECT_EQ(c.counts.passed, run.counts.passed);
        EXPECT_EQ(c.counts.skipped, run.counts.skipped);
        EXPECT_EQ(c.counts.failed, run.counts.failed);
        EXPECT_EQ(c.verdict, Verdict(run));
        EXPECT_EQ(0u, ReportLine(run).find(std::string("qz-tests-x: ") + c.verdict)) << ReportLine(run);
    }
}

} // namespace
} // namespace qztest
