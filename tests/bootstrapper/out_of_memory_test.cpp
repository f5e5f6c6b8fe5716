// Memory that runs out while the run reports its end: the process still ends
// with an exit code a script can read, the result line reaches the open log
// and the exit file is written. This test program's allocations fail on
// demand (the hook below replaces the global allocation functions of this
// program only); Windows itself is the real one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

#include "bootstrapper/run_sequence.h"
#include "diag/bootstrap_log.h"
#include "settings/variables.h"
#include "support/test_env.h"

namespace {

// -1: every allocation is served. Otherwise the number still served; once it
// is 0, every allocation fails, as in a process whose memory has run out.
long g_allocationsLeft = -1;
long g_allocationsRefused = 0;

void* Allocate(std::size_t size) {
    if (g_allocationsLeft == 0) {
        ++g_allocationsRefused;
        return nullptr;
    }
    if (g_allocationsLeft > 0)
        --g_allocationsLeft;
    return std::malloc(size ? size : 1);
}

// The replaced allocation functions below pair malloc with free; the
// compiler, seeing a delete expression's block reach free, takes it for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void Release(void* block) noexcept {
    std::free(block);
}
#pragma GCC diagnostic pop

// Serves `count` more allocations, then fails every one.
void FailAllocationsAfter(long count) {
    g_allocationsRefused = 0;
    g_allocationsLeft = count;
}

// Serves every allocation again; says how many were refused.
long ServeAllocations() {
    g_allocationsLeft = -1;
    return g_allocationsRefused;
}

} // namespace

void* operator new(std::size_t size) {
    if (void* block = Allocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    Release(block);
}
void operator delete[](void* block) noexcept {
    Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    Release(block);
}

namespace {

TEST(OutOfMemory, TheRunEndsWithExitCode1AndReportsWhatItCan) {
    // Memory runs out after 0, 1, 2, ... more allocations, until the whole
    // end of the run gets by without running out.
    for (long allowed = 0;; ++allowed) {
        SCOPED_TRACE("allocations served: " + std::to_string(allowed));
        ASSERT_LT(allowed, 2000) << "the end of the run never got by";
        qztest::TempDir dir;
        const std::wstring exitFile = dir / L"exit.txt";
        const std::wstring logFile = dir / L"run.log";
        std::wstringbuf early;
        VariableMap variables{{QZ_SETUP_EXIT_FILE, exitFile}, {QZ_SETUP_MODE, L"UNATTENDED"}};
        RunResult result{L"", 0, early, variables};
        SetLogFile(logFile, early);

        FailAllocationsAfter(allowed);
        int exitCode = -1;
        try {
            throw std::bad_alloc(); // memory ran out in a step of the run
        } catch (...) {
            HandleRunException(result);
        }
        exitCode = FinishRun(result, false);
        const long refused = ServeAllocations();
        FlushLogStreams();

        EXPECT_EQ(1, exitCode);
        const std::string exit = qztest::ReadFileBytes(exitFile);
        EXPECT_EQ("1\r\n1\r\n", exit.substr(0, 6)) << exit;
        const std::wstring log = qztest::ReadUtf16File(logFile);
        EXPECT_NE(std::wstring::npos, log.find(L"\r\nQZSETUP:BOOTSTRAP:ERR:1:")) << qztest::ToUtf8(log);
        if (refused == 0) {
            // Enough memory after all: the whole report, as usual.
            EXPECT_EQ("1\r\n1\r\nstd::bad_alloc", exit);
            break;
        }
    }
}

} // namespace
