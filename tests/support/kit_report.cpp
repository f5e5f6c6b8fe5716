#include "support/kit_report.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace qztest {
namespace {

// The number right after `tag` at the start of `line`, if the line starts so.
bool NumberAfter(const std::string& line, const char* tag, unsigned& number) {
    const std::string prefix(tag);
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    const char* digits = line.c_str() + prefix.size();
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits, &end, 10);
    if (end == digits)
        return false;
    number = static_cast<unsigned>(value);
    return true;
}

} // namespace

TestCounts ReadTestCounts(const std::string& output) {
    TestCounts counts;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        unsigned number = 0;
        // The closing line of the run; the same tag opens it with "Running".
        if (NumberAfter(line, "[==========] ", number) && line.find(" ran.") != std::string::npos) {
            counts = TestCounts();
            counts.summary = true;
            counts.ran = number;
        } else if (!counts.summary) {
            continue;
        } else if (NumberAfter(line, "[  PASSED  ] ", number)) {
            counts.passed = number;
        } else if (NumberAfter(line, "[  SKIPPED ] ", number) &&
                   line.find("listed below") != std::string::npos) {
            counts.skipped = number;
        } else if (NumberAfter(line, "[  FAILED  ] ", number) &&
                   line.find("listed below") != std::string::npos) {
            counts.failed = number;
        }
    }
    return counts;
}

std::string Verdict(const ProgramRun& run) {
    if (run.timedOut || run.exitCode != 0 || !run.counts.summary || run.counts.failed != 0)
        return "failed";
    if (run.counts.ran != 0 && run.counts.skipped == run.counts.ran)
        return "skipped";
    return "passed";
}

std::string ReportLine(const ProgramRun& run) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", run.seconds);
    std::string line = run.program + ": " + Verdict(run) + " in " + seconds + " s";
    if (run.counts.summary) {
        line += " (" + std::to_string(run.counts.ran) + " tests: " + std::to_string(run.counts.passed) +
                " passed, " + std::to_string(run.counts.skipped) + " skipped";
        if (run.counts.failed)
            line += ", " + std::to_string(run.counts.failed) + " failed";
        line += ")";
    } else {
        line += " (no test summary in its output)";
    }
    if (run.timedOut)
        line += ", stopped after its time limit";
    else if (run.exitCode != 0)
        line += ", exit code " + std::to_string(run.exitCode);
    return line;
}

} // namespace qztest
