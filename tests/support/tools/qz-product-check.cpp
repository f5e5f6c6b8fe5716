// End-to-end check of a built qz-setup.exe, typically the shipped 32-bit one
// started from this tool of another build: a refused command line, a real
// unattended installation and removal, and a failing package. Each case runs
// the program from a scratch directory, closes its text viewer and compares
// the exit code (read on the Windows side), the exit file and the product's
// registration with what the case expects.
// Usage: qz-product-check.exe [--timeout-ms N] PATH\qz-setup.exe
// Prints one line per case and exits with the number of failed cases.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"

namespace {

using qztest::ToUtf8;

struct Case {
    const char* name;
    std::vector<std::wstring> arguments;
    DWORD exitCode;
    // Empty: no exit file may be written. Otherwise its exact content.
    std::string exitFile;
    // Further checks after the run; a non-empty result is the failure.
    std::function<std::string()> after;
};

// Control characters made visible for a one-line report.
std::string Visible(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Check(const qztest::TempDir& dir, const Case& c, DWORD timeoutMs) {
    qztest::SetupOptions options;
    options.process.timeoutMs = timeoutMs;
    const DWORD start = GetTickCount();
    const qztest::SetupRun run = qztest::RunSetup(dir.path(), c.arguments, options);
    const DWORD seconds = (GetTickCount() - start + 500) / 1000;
    std::string failure;
    if (run.timedOut)
        failure = "timed out after " + std::to_string(timeoutMs / 1000) + " s";
    else if (run.exitCode != c.exitCode)
        failure = "exit code " + std::to_string(run.exitCode) + ", expected " + std::to_string(c.exitCode);
    const std::wstring exitPath = dir / L"exit.txt";
    if (failure.empty()) {
        if (c.exitFile.empty() && qztest::PathExists(exitPath))
            failure = "an exit file was written";
        else if (!c.exitFile.empty()) {
            const std::string content = qztest::PathExists(exitPath) ? qztest::ReadFileBytes(exitPath) : "";
            if (content != c.exitFile)
                failure = "exit file \"" + Visible(content) + "\", expected \"" + Visible(c.exitFile) + "\"";
        }
    }
    if (failure.empty() && c.after)
        failure = c.after();
    DeleteFileW(exitPath.c_str());
    std::printf("%-4s %-40s exit %lu, %zu dialog(s), %lu s%s%s\n", failure.empty() ? "ok" : "FAIL", c.name,
                static_cast<unsigned long>(run.exitCode), run.dialogs.size(),
                static_cast<unsigned long>(seconds), failure.empty() ? "" : ": ", failure.c_str());
    std::fflush(stdout);
    return failure;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD timeoutMs = 120000;
    int i = 1;
    if (i + 1 < argc && std::wstring(argv[i]) == L"--timeout-ms") {
        timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
        i += 2;
    }
    if (i >= argc) {
        std::fwprintf(stderr, L"usage: qz-product-check.exe [--timeout-ms N] PATH\\qz-setup.exe\n");
        return 100;
    }
    const std::wstring product = argv[i];

    try {
        qztest::TempDir dir;
        qztest::CopyFileOrThrow(product, dir / L"qz-setup.exe");

        // A product of the machine's own platform: the program was started on
        // a 64-bit Windows (a 64-bit Wine prefix).
        qztest::PackageSpec sample;
        sample.productName = L"QZ Product Check";
        sample.installFolder = L"QZ Product Check";
        sample.platform = L"x64";
        sample.productCode = qztest::NewGuid();
        qztest::BuildPackage(sample, dir / L"sample.msi");

        qztest::PackageSpec failing;
        failing.productName = L"QZ Product Check Failing";
        failing.installFolder = L"QZ Product Check Failing";
        failing.platform = L"x64";
        failing.productCode = qztest::NewGuid();
        failing.errors = {{25000, L"Widget failure: [2] (code [3])"}};
        failing.failWithError = 25000;
        failing.failArguments = {L"disk on fire", L"42"};
        qztest::BuildPackage(failing, dir / L"failing.msi");

        // The exit file is written in text mode: each LF of the result text
        // gains a CR, so the system text's own CR LF arrives as CR CR LF.
        std::string successText;
        for (const char c : ToUtf8(qztest::SystemText(0)))
            successText += c == '\n' ? std::string("\r\n") : std::string(1, c);
        const std::string success = "0\r\n0\r\n" + successText;
        const std::wstring code = sample.productCode;
        const std::vector<Case> cases = {
            {"refused command line (/p without a value)", {L"/e", L"exit.txt", L"/p"}, 30665, "", nullptr},
            {"unattended installation",
             {L"/f", L"sample.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/l", L"install.log", L"/e", L"exit.txt"},
             0,
             success,
             [code] { return qztest::IsProductRegistered(code) ? "" : "the product is not registered"; }},
            {"unattended removal",
             {L"/f", L"sample.msi", L"QZ_SETUP_MODE=UNATTENDED_UNINSTALL", L"/l", L"remove.log", L"/e",
              L"exit.txt"},
             0,
             success,
             [code] { return qztest::IsProductRegistered(code) ? "the product is still registered" : ""; }},
            {"failing package",
             {L"/f", L"failing.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/l", L"failing.log", L"/e", L"exit.txt"},
             1,
             "25000\r\n25000\r\nWidget failure: disk on fire (code 42)",
             [&failing] {
                 return qztest::IsProductRegistered(failing.productCode) ? "the failing product is registered"
                                                                         : "";
             }},
        };
        int failed = 0;
        for (const Case& c : cases)
            if (!Check(dir, c, timeoutMs).empty())
                ++failed;
        qztest::RemoveProduct(sample.productCode);
        return failed;
    } catch (const std::exception& e) {
        std::printf("FAIL the check could not run: %s\n", e.what());
        return 100;
    }
}
