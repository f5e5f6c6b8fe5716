// The manual's examples run: every "cmd exit=N" block of MANUAL.md, in the
// manual's order, as the command line of qz-setup.exe in a folder built like
// the manual's sample folder, with its exit code read on the Windows side.
// QZ_MANUAL_SETUP_EXE and QZ_MANUAL_SAMPLES name another qz-setup.exe and
// samples folder (those of an unpacked kit).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

namespace {

struct Example {
    unsigned line = 0;      // of the command in MANUAL.md
    std::wstring arguments; // the command line after "qz-setup.exe"
    DWORD exitCode = 0;
};

std::string Trimmed(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t\r");
    const std::size_t end = text.find_last_not_of(" \t\r");
    return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

// The runnable blocks of the manual. Every line that starts with
// "qz-setup.exe" must stand in a runnable block or in a recipe block.
std::vector<Example> ReadExamples(const std::string& manual, std::vector<std::string>& problems) {
    std::vector<Example> examples;
    std::string info; // of the open fenced block
    bool inBlock = false;
    std::vector<std::pair<unsigned, std::string>> blockLines;
    unsigned number = 0;
    std::size_t start = 0;
    while (start < manual.size()) {
        std::size_t end = manual.find('\n', start);
        if (end == std::string::npos)
            end = manual.size();
        const std::string line = manual.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string trimmed = Trimmed(line);
        if (trimmed.rfind("```", 0) == 0) {
            if (!inBlock) {
                inBlock = true;
                info = Trimmed(trimmed.substr(3));
                blockLines.clear();
                continue;
            }
            inBlock = false;
            if (info.rfind("cmd exit=", 0) == 0) {
                if (blockLines.size() != 1 || blockLines[0].second.rfind("qz-setup.exe", 0) != 0) {
                    problems.push_back("line " + std::to_string(number) +
                                       ": a runnable block holds one qz-setup.exe command line");
                    continue;
                }
                Example example;
                example.line = blockLines[0].first;
                example.arguments = qztest::FromUtf8(Trimmed(blockLines[0].second.substr(12)));
                example.exitCode = static_cast<DWORD>(std::strtoul(info.c_str() + 9, nullptr, 10));
                examples.push_back(example);
            }
            continue;
        }
        if (inBlock && !trimmed.empty())
            blockLines.emplace_back(number, trimmed);
        const bool command = trimmed.rfind("qz-setup.exe ", 0) == 0 || trimmed == "qz-setup.exe";
        const bool marked =
            inBlock && (info.rfind("cmd exit=", 0) == 0 ||
                        (info.size() > 7 && info.compare(info.size() - 7, 7, " recipe") == 0));
        if (command && !marked)
            problems.push_back("line " + std::to_string(number) +
                               ": a qz-setup.exe command line outside a "
                               "\"cmd exit=N\" or recipe block");
    }
    return examples;
}

std::wstring Setting(const char* name, const std::wstring& otherwise) {
    const char* value = std::getenv(name);
    return value && *value ? qztest::FromUtf8(value) : otherwise;
}

TEST(ManualExamples, EveryCommandLineOfTheManualGivesItsExitCode) {
    const std::string manual = qztest::ReadFileBytes(qztest::SourcePath(L"MANUAL.md"));
    ASSERT_FALSE(manual.empty());
    std::vector<std::string> problems;
    const std::vector<Example> examples = ReadExamples(manual, problems);
    for (const std::string& problem : problems)
        ADD_FAILURE() << "MANUAL.md " << problem;
    ASSERT_GE(examples.size(), 10u) << "the manual's examples were not found";

    // The folder of the manual: the program, the samples, two packages and a transform.
    qztest::TempDir dir;
    const std::wstring samples = Setting("QZ_MANUAL_SAMPLES", qztest::SourcePath(L"samples/"));
    qztest::CopyFileOrThrow(Setting("QZ_MANUAL_SETUP_EXE", qztest::SetupExePath()), dir / L"qz-setup.exe");
    qztest::CopyFileOrThrow(samples + L"qz-setup.dat", dir / L"qz-setup.dat");
    qztest::CopyFileOrThrow(samples + L"answers.rsp", dir / L"answers.rsp");
    std::vector<std::wstring> productCodes;
    for (const auto& [file, platform] :
         {std::pair<const wchar_t*, const wchar_t*>{L"Sample Agent x64.msi", L"x64"},
          {L"Sample Agent x86.msi", L"Intel"}}) {
        qztest::PackageSpec package;
        package.productName = L"QZ Sample Agent";
        package.platform = platform;
        package.installFolder = L"QZ Manual Sample Agent";
        package.productCode = qztest::NewGuid();
        productCodes.push_back(package.productCode);
        qztest::BuildPackage(package, dir / file);
    }
    qztest::WriteLanguageTransform(dir / L"Sample Agent fr.mst", 1036,
                                   {{L"ProductName", L"QZ Agent exemple"}});

    qztest::SetupOptions options;
    options.onLanguageDialog = [](HWND dialog) { qztest::PressOk(dialog); };
    for (const Example& example : examples) {
        SCOPED_TRACE("MANUAL.md:" + std::to_string(example.line) + ": qz-setup.exe " +
                     qztest::ToUtf8(example.arguments));
        const qztest::SetupRun run = qztest::RunSetupCommandLine(dir.path(), example.arguments, options);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(example.exitCode, run.exitCode);
    }
    for (const std::wstring& code : productCodes) {
        EXPECT_FALSE(qztest::IsProductRegistered(code)) << "the manual's examples leave nothing installed";
        qztest::RemoveProduct(code);
    }
}

} // namespace
