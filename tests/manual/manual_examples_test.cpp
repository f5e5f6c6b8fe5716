// The manual's examples run, in the manual's order, in a folder built like
// the manual's sample folder (a path with blanks, standing in for a share),
// with their exit codes read on the Windows side and every window they show
// checked against the dialogs their block names:
//   ```cmd exit=N [dialog=D]        one qz-setup.exe command line
//   ```text recipe exit=N [dialog=D] a deployment tool's settings: each line
//                                   with a qz-setup.exe command runs
//   ```bat script exit=N [dialog=D] a script that cmd.exe runs as a file
//   ```powershell recipe            left out: PowerShell does not run here
//   ```json plan                    the plan that the command line before it
//                                   writes (QZ_SETUP_PLAN=plan.json)
//   ```json deployment              the deployment part of the folder check
//                                   that the command line before it writes
//                                   (QZ_SETUP_PLAN=folder-check.json QZ_SETUP_PLAN_AS=*)
// D is a comma-separated list of the dialogs the run shows, in order:
// "language" (the language dialog) or "viewer" (the text viewer). A block
// without dialog= shows none: under a deployment tool a dialog would wait
// until the installation times out.
// QZ_MANUAL_SETUP_EXE and QZ_MANUAL_SAMPLES name another qz-setup.exe and
// samples folder (those of an unpacked kit).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/package_builder.h"
#include "support/plan_reader.h"
#include "support/process_runner.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

namespace {

// Where the recipes take the packages from; a local folder stands in for it.
const char kShare[] = "\\\\server\\software\\Sample Agent Setup";

enum class Kind { Command, Recipe, Script };

struct Example {
    unsigned line = 0; // of the command, or of the script's first line, in MANUAL.md
    Kind kind = Kind::Command;
    std::string text; // the arguments after "qz-setup.exe", or the whole script
    DWORD exitCode = 0;
    std::vector<std::string> dialogs; // expected, in order
    std::string plan;                 // the "json plan" block that follows it: the plan it writes
    std::string deployment;           // the "json deployment" block that follows it
};

std::string Trimmed(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t\r");
    const std::size_t end = text.find_last_not_of(" \t\r");
    return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

std::vector<std::string> Words(const std::string& text, char separator = ' ') {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; std::getline(in, word, separator);)
        if (!word.empty())
            words.push_back(word);
    return words;
}

// A fenced block's info string: its language and its marks.
struct BlockInfo {
    std::string language;
    bool recipe = false;
    bool script = false;
    bool plan = false;
    bool deployment = false;
    bool hasExit = false;
    DWORD exitCode = 0;
    std::vector<std::string> dialogs;
    std::string problem; // a mark that is not understood
};

BlockInfo ReadInfo(const std::string& info) {
    BlockInfo block;
    const std::vector<std::string> words = Words(info);
    if (!words.empty())
        block.language = words[0];
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "recipe") {
            block.recipe = true;
        } else if (word == "script") {
            block.script = true;
        } else if (word == "plan") {
            block.plan = true;
        } else if (word == "deployment") {
            block.deployment = true;
        } else if (word.rfind("exit=", 0) == 0 && word.size() > 5 &&
                   word.find_first_not_of("0123456789", 5) == std::string::npos) {
            block.hasExit = true;
            block.exitCode = static_cast<DWORD>(std::strtoul(word.c_str() + 5, nullptr, 10));
        } else if (word.rfind("dialog=", 0) == 0) {
            block.dialogs = Words(word.substr(7), ',');
            for (const std::string& dialog : block.dialogs)
                if (dialog != "language" && dialog != "viewer")
                    block.problem = "an unknown dialog \"" + dialog + "\" (language or viewer)";
        } else {
            block.problem = "an unknown mark \"" + word + "\"";
        }
    }
    return block;
}

bool StartsWithCommand(const std::string& line) {
    return line.rfind("qz-setup.exe ", 0) == 0 || line == "qz-setup.exe";
}

// The examples of the manual, and what is wrong with its blocks. Every line
// that starts with "qz-setup.exe" must stand in a block that runs.
std::vector<Example> ReadExamples(const std::string& manual, std::vector<std::string>& problems) {
    std::vector<Example> examples;
    BlockInfo block;
    bool inBlock = false;
    unsigned blockStart = 0;
    std::vector<std::pair<unsigned, std::string>> blockLines;
    auto problem = [&problems](unsigned line, const std::string& text) {
        problems.push_back("line " + std::to_string(line) + ": " + text);
    };
    unsigned number = 0;
    std::size_t start = 0;
    while (start < manual.size()) {
        std::size_t end = manual.find('\n', start);
        if (end == std::string::npos)
            end = manual.size();
        const std::string raw = manual.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string line = Trimmed(raw);
        if (line.rfind("```", 0) == 0) {
            if (!inBlock) {
                inBlock = true;
                blockStart = number;
                block = ReadInfo(Trimmed(line.substr(3)));
                blockLines.clear();
                continue;
            }
            inBlock = false;
            if (!block.problem.empty()) {
                problem(blockStart, block.problem);
                continue;
            }
            const bool runs = block.hasExit;
            if (block.language == "cmd" && runs && !block.recipe && !block.script) {
                if (blockLines.size() != 1 || !StartsWithCommand(blockLines[0].second)) {
                    problem(blockStart, "a cmd block holds one qz-setup.exe command line");
                    continue;
                }
                examples.push_back(Example{blockLines[0].first, Kind::Command,
                                           Trimmed(blockLines[0].second.substr(12)), block.exitCode,
                                           block.dialogs, std::string(), std::string()});
            } else if (block.language == "json" && block.plan) {
                if (examples.empty() || examples.back().kind != Kind::Command ||
                    examples.back().text.find("QZ_SETUP_PLAN=plan.json") == std::string::npos) {
                    problem(blockStart,
                            "a plan follows the command line that writes it (QZ_SETUP_PLAN=plan.json)");
                    continue;
                }
                for (const auto& planLine : blockLines)
                    examples.back().plan += planLine.second + "\n";
            } else if (block.language == "json" && block.deployment) {
                if (examples.empty() || examples.back().kind != Kind::Command ||
                    examples.back().text.find("QZ_SETUP_PLAN=folder-check.json QZ_SETUP_PLAN_AS=*") ==
                        std::string::npos) {
                    problem(blockStart, "a deployment part follows the folder check that writes it "
                                        "(QZ_SETUP_PLAN=folder-check.json QZ_SETUP_PLAN_AS=*)");
                    continue;
                }
                for (const auto& partLine : blockLines)
                    examples.back().deployment += partLine.second + "\n";
            } else if (block.recipe && runs) {
                const std::size_t before = examples.size();
                for (const auto& [at, text] : blockLines) {
                    const std::size_t command = text.find("qz-setup.exe ");
                    if (command != std::string::npos)
                        examples.push_back(Example{at, Kind::Recipe, Trimmed(text.substr(command + 12)),
                                                   block.exitCode, block.dialogs, std::string(),
                                                   std::string()});
                }
                if (examples.size() == before)
                    problem(blockStart, "a recipe block with exit=N holds no qz-setup.exe command");
            } else if (block.script && runs) {
                std::string script;
                for (const auto& [at, text] : blockLines)
                    script += text + "\r\n";
                if (script.find("qz-setup.exe") == std::string::npos || blockLines.empty()) {
                    problem(blockStart, "a script block holds no qz-setup.exe command");
                    continue;
                }
                examples.push_back(Example{blockLines[0].first, Kind::Script, script, block.exitCode,
                                           block.dialogs, std::string(), std::string()});
            } else if (block.recipe && block.language == "powershell") {
                // Left out: PowerShell does not run under Wine.
            } else {
                for (const auto& [at, text] : blockLines)
                    if (text.find("qz-setup.exe ") != std::string::npos)
                        problem(at, "a qz-setup.exe command in a block that does not run (give it exit=N)");
            }
            continue;
        }
        if (inBlock) {
            if (!line.empty())
                blockLines.emplace_back(number, raw);
            continue;
        }
        if (StartsWithCommand(line))
            problem(number, "a qz-setup.exe command line outside a block that runs");
    }
    return examples;
}

std::wstring Setting(const char* name, const std::wstring& otherwise) {
    const char* value = std::getenv(name);
    return value && *value ? qztest::FromUtf8(value) : otherwise;
}

std::wstring Expanded(const std::wstring& text) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), buffer, MAX_PATH * 2);
    return length > 0 && length <= MAX_PATH * 2 ? std::wstring(buffer) : text;
}

struct VisibleWindows {
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM lParam) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != GetCurrentProcessId() && IsWindowVisible(window))
        reinterpret_cast<VisibleWindows*>(lParam)->windows.push_back(window);
    return TRUE;
}

bool IsDialogWith(HWND window, int controlId) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    return std::wstring(className) == L"#32770" && GetDlgItem(window, controlId) != nullptr;
}

struct Watched {
    DWORD exitCode = 0;
    bool timedOut = false;
    std::vector<std::string> dialogs; // "language", "viewer", or what else showed
};

// Runs the process and answers every window that shows while it runs (its
// own, or a child's): the language dialog and the text viewer with OK, any
// other by closing it.
Watched RunWatched(const std::wstring& exe, const std::wstring& tail, const std::wstring& folder) {
    qztest::ProcessOptions options;
    options.workingDir = folder;
    Watched watched;
    qztest::RunningProcess process(exe, tail, options);
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(process.handle(), 30) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > options.timeoutMs)
            break;
        VisibleWindows visible;
        EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&visible));
        for (HWND window : visible.windows) {
            if (IsDialogWith(window, IDC_LANGUAGE_COMBO)) {
                watched.dialogs.push_back("language");
                qztest::PressOk(window);
            } else if (IsDialogWith(window, IDC_VIEWER_TEXT)) {
                watched.dialogs.push_back("viewer");
                qztest::PressOk(window);
            } else {
                wchar_t className[64] = {};
                GetClassNameW(window, className, 64);
                watched.dialogs.push_back("a window \"" + qztest::ToUtf8(qztest::WindowText(window)) +
                                          "\" of class " + qztest::ToUtf8(className));
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
            for (int i = 0; i < 100 && IsWindow(window) && IsWindowVisible(window); ++i)
                Sleep(20);
        }
    }
    const DWORD elapsed = GetTickCount() - start;
    const qztest::ProcessResult result =
        process.Wait(elapsed < options.timeoutMs ? options.timeoutMs - elapsed : 0);
    watched.exitCode = result.exitCode;
    watched.timedOut = result.timedOut;
    return watched;
}

std::string Joined(const std::vector<std::string>& dialogs) {
    std::string text;
    for (const std::string& dialog : dialogs)
        text += (text.empty() ? "" : ", ") + dialog;
    return text.empty() ? "none" : text;
}

// The upgrade codes of the sample packages, as the manual shows them.
const wchar_t* const kUpgradeCodes[] = {L"{5B7E2C91-0D4A-4C6F-A8E3-71F9B2D4C605}",
                                        L"{C0E4A7B2-9F13-4D58-B6A1-2E8D5C7F9034}"};

// Replaces every occurrence of `from` in the texts of `value`.
void ReplaceInTexts(qztest::PlanJson& value, const std::string& from, const std::string& to) {
    if (value.is_string()) {
        std::string text = value;
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        value = text;
        return;
    }
    if (value.is_structured())
        for (auto& item : value)
            ReplaceInTexts(item, from, to);
}

// The plan a manual example wrote, with what is this machine's own put as
// the manual shows it: the folder, TEMP, the product codes, the Windows
// version and the program's version and configuration.
qztest::PlanJson ManualPlan(const std::wstring& path, const qztest::PlanJson& manual,
                            const std::wstring& folder, const std::vector<std::wstring>& productCodes) {
    qztest::PlanJson plan = qztest::ReadPlan(path);
    ReplaceInTexts(plan, qztest::ToUtf8(folder), "C:\\Sample Agent Setup\\");
    ReplaceInTexts(plan, qztest::ToUtf8(qztest::TempFolder()), "C:\\Users\\admin\\AppData\\Local\\Temp\\");
    const char* const manualCodes[] = {"{6D1C3A52-7F0B-4E8A-9C41-2B5E8D7A1F30}",
                                       "{A3F2B7C4-1D5E-4F6A-8B9C-0E7D6C5B4A39}"};
    for (std::size_t i = 0; i < productCodes.size() && i < 2; ++i)
        ReplaceInTexts(plan, qztest::ToUtf8(productCodes[i]), manualCodes[i]);
    for (const char* part : {"version", "configuration"})
        if (manual.contains("program") && plan.contains("program"))
            plan["program"][part] = manual["program"].value(part, std::string());
    if (manual.contains("machine") && plan.contains("machine"))
        plan["machine"]["windows"] = manual["machine"]["windows"];
    // The packages come in the order the file system lists them: a package
    // for another processor listed before the chosen one is this machine's.
    if (plan.contains("packages") && plan["packages"].contains("candidates")) {
        qztest::PlanJson kept = qztest::PlanJson::array();
        for (const auto& candidate : plan["packages"]["candidates"])
            if (candidate["verdict"] != "processor does not match")
                kept.push_back(candidate);
        plan["packages"]["candidates"] = kept;
    }
    return plan;
}

TEST(ManualExamples, ReadsTheBlocksOfTheManual) {
    std::vector<std::string> problems;
    const std::vector<Example> examples = ReadExamples(
        "```cmd exit=0 dialog=viewer\nqz-setup.exe /h\n```\n"
        "```text recipe exit=1618\nInstall:   qz-setup.exe /p \"A\" /e x.txt\nDetection: none\n"
        "Uninstall: qz-setup.exe /x\n```\n"
        "```bat script exit=0\n@echo off\n\"\\\\server\\s\\qz-setup.exe\" /p A\nexit /b %errorlevel%\n```\n"
        "```powershell recipe\nStart-Process qz-setup.exe\n```\n"
        "```cmd exit=0\nqz-setup.exe /p A QZ_SETUP_PLAN=plan.json\n```\n"
        "```json plan\n{\n  \"end\": null\n}\n```\n",
        problems);
    EXPECT_EQ(std::vector<std::string>(), problems);
    ASSERT_EQ(5u, examples.size());
    EXPECT_EQ("/h", examples[0].text);
    EXPECT_EQ(std::vector<std::string>{"viewer"}, examples[0].dialogs);
    EXPECT_EQ("/p \"A\" /e x.txt", examples[1].text);
    EXPECT_EQ(1618u, examples[1].exitCode);
    EXPECT_EQ(Kind::Recipe, examples[2].kind);
    EXPECT_EQ("/x", examples[2].text);
    EXPECT_EQ(Kind::Script, examples[3].kind);
    EXPECT_EQ("@echo off\r\n\"\\\\server\\s\\qz-setup.exe\" /p A\r\nexit /b %errorlevel%\r\n",
              examples[3].text);
    EXPECT_EQ("", examples[3].plan);
    EXPECT_EQ("{\n  \"end\": null\n}\n", examples[4].plan);

    // What does not pass.
    const struct {
        const char* what;
        std::string manual;
        std::string problem;
    } refused[] = {
        {"a command line outside a block", "Run\n\nqz-setup.exe /p A\n", "outside a block that runs"},
        {"in a block that does not run", "```\nqz-setup.exe /p A\n```\n", "does not run"},
        {"a recipe that does not run", "```text recipe\nInstall: qz-setup.exe /p A\n```\n", "does not run"},
        {"a recipe without a command", "```text recipe exit=0\nInstall: msiexec /i a.msi\n```\n",
         "holds no qz-setup.exe command"},
        {"two command lines in one block", "```cmd exit=0\nqz-setup.exe /h\nqz-setup.exe /h\n```\n",
         "holds one qz-setup.exe command line"},
        {"an unknown dialog", "```cmd exit=0 dialog=progress\nqz-setup.exe /h\n```\n", "unknown dialog"},
        {"an unknown mark", "```cmd exit=zero\nqz-setup.exe /h\n```\n", "unknown mark"},
        {"a plan after a command line that writes none",
         "```cmd exit=0\nqz-setup.exe /h\n```\n```json plan\n{}\n```\n",
         "a plan follows the command line that writes it"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        problems.clear();
        ReadExamples(c.manual, problems);
        ASSERT_EQ(1u, problems.size());
        EXPECT_NE(std::string::npos, problems[0].find(c.problem)) << problems[0];
    }
}

// The recipes' product codes and return codes are those of the folder
// check's deployment part that the manual shows (and that the test below
// holds to what the check writes): a code typed in by hand fails here.
TEST(ManualExamples, TheRecipesTakeTheirCodesFromTheFolderCheck) {
    const std::string manual = qztest::ReadFileBytes(qztest::SourcePath(L"MANUAL.md"));
    std::vector<std::string> problems;
    qztest::PlanJson deployment;
    for (const Example& example : ReadExamples(manual, problems))
        if (!example.deployment.empty())
            deployment = qztest::PlanJson::parse(example.deployment);
    ASSERT_TRUE(deployment.is_object()) << "the manual shows no deployment part";

    const std::size_t start = manual.find("\n## Deployment recipes");
    ASSERT_NE(std::string::npos, start);
    const std::string recipes = manual.substr(start, manual.find("\n## ", start + 1) - start);
    std::set<std::string> detected;
    for (const auto& rule : deployment["detection"]["rules"])
        detected.insert(rule["productCode"].get<std::string>());
    unsigned codes = 0;
    for (std::size_t at = recipes.find('{'); at != std::string::npos; at = recipes.find('{', at + 1)) {
        const std::string code = recipes.substr(at, 38);
        if (code.size() == 38 && code[37] == '}') {
            ++codes;
            EXPECT_EQ(1u, detected.count(code)) << code << " is no product code of the folder check";
        }
    }
    EXPECT_NE(0u, codes) << "the recipes name no product code";

    std::map<long, std::string> intune;
    for (const auto& row : deployment["returnCodes"])
        intune[row["code"].get<long>()] = row["intune"].get<std::string>();
    const std::string label = "Return codes:";
    for (std::size_t at = recipes.find(label); at != std::string::npos; at = recipes.find(label, at + 1)) {
        const std::string line =
            recipes.substr(at + label.size(), recipes.find('\n', at) - at - label.size());
        for (std::size_t digit = line.find_first_of("0123456789"); digit != std::string::npos;) {
            const std::size_t end = line.find_first_not_of("0123456789", digit);
            const long code = std::strtol(line.substr(digit, end - digit).c_str(), nullptr, 10);
            ASSERT_EQ(1u, intune.count(code)) << code << " is not in the folder check's return codes";
            EXPECT_NE("Failed", intune[code]) << code << " is a failure in the folder check's return codes";
            digit = end == std::string::npos ? end : line.find_first_of("0123456789", end);
        }
    }
}

TEST(ManualExamples, EveryCommandLineOfTheManualGivesItsExitCodeAndItsDialogs) {
    const std::string manual = qztest::ReadFileBytes(qztest::SourcePath(L"MANUAL.md"));
    ASSERT_FALSE(manual.empty());
    std::vector<std::string> problems;
    const std::vector<Example> examples = ReadExamples(manual, problems);
    for (const std::string& problem : problems)
        ADD_FAILURE() << "MANUAL.md " << problem;
    ASSERT_FALSE(examples.empty()) << "the manual's examples were not found";

    // The folder of the manual, in a path with blanks: the program, the
    // samples, two packages (and copies in packages\), a transform (and a
    // copy in transforms\), an English help text.
    qztest::TempDir dir;
    const std::wstring folder = dir / L"Sample Agent Setup\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring samples = Setting("QZ_MANUAL_SAMPLES", qztest::SourcePath(L"samples/"));
    qztest::CopyFileOrThrow(Setting("QZ_MANUAL_SETUP_EXE", qztest::SetupExePath()), folder + L"qz-setup.exe");
    qztest::CopyFileOrThrow(samples + L"qz-setup.dat", folder + L"qz-setup.dat");
    qztest::CopyFileOrThrow(samples + L"answers.rsp", folder + L"answers.rsp");
    ASSERT_TRUE(CreateDirectoryW((folder + L"packages").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"transforms").c_str(), nullptr));
    std::vector<std::wstring> productCodes;
    for (const auto& [file, platform] :
         {std::pair<const wchar_t*, const wchar_t*>{L"Sample Agent x64.msi", L"x64"},
          {L"Sample Agent x86.msi", L"Intel"}}) {
        qztest::PackageSpec package;
        package.productName = L"QZ Sample Agent";
        package.platform = platform;
        package.installFolder = L"QZ Manual Sample Agent";
        package.productCode = qztest::NewGuid();
        package.upgradeCode = kUpgradeCodes[productCodes.size()];
        productCodes.push_back(package.productCode);
        qztest::BuildPackage(package, folder + file);
        qztest::CopyFileOrThrow(folder + file, folder + L"packages\\" + file);
    }
    qztest::WriteLanguageTransform(folder + L"Sample Agent fr.mst", 1036,
                                   {{L"ProductName", L"QZ Agent exemple"}});
    qztest::CopyFileOrThrow(folder + L"Sample Agent fr.mst", folder + L"transforms\\Sample Agent fr.mst");
    qztest::WriteFileBytes(folder + L"Sample Agent_enu",
                           "Sample Agent\r\n\r\nInstalls the Sample Agent.\r\n");
    // Where the recipes put their logs and exit files.
    const std::wstring logs = Expanded(L"%SystemRoot%\\Logs\\Sample Agent");

    const std::wstring share = folder.substr(0, folder.size() - 1);
    for (const Example& example : examples) {
        SCOPED_TRACE("MANUAL.md:" + std::to_string(example.line) + ": " +
                     (example.kind == Kind::Script ? "the script" : "qz-setup.exe " + example.text));
        Watched run;
        if (example.kind == Kind::Script) {
            // The script as a file on the share, run as a startup script is.
            std::string script = example.text;
            for (std::size_t at; (at = script.find(kShare)) != std::string::npos;)
                script.replace(at, sizeof kShare - 1, qztest::ToUtf8(share));
            const std::wstring path = folder + L"script-" + std::to_wstring(example.line) + L".cmd";
            qztest::WriteFileBytes(path, script);
            run =
                RunWatched(Expanded(L"%SystemRoot%\\system32\\cmd.exe"), L"/c \"" + path + L"\"", dir.path());
        } else {
            run = RunWatched(folder + L"qz-setup.exe", qztest::FromUtf8(example.text), folder);
        }
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(example.exitCode, run.exitCode);
        EXPECT_EQ(Joined(example.dialogs), Joined(run.dialogs)) << "the dialogs shown";
        if (!example.plan.empty()) {
            // The manual shows the plan this example writes.
            qztest::PlanJson manual;
            try {
                manual = qztest::PlanJson::parse(example.plan);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "the manual's plan is no JSON: " << e.what();
                continue;
            }
            const qztest::PlanJson plan = ManualPlan(folder + L"plan.json", manual, folder, productCodes);
            EXPECT_EQ(manual, plan) << "the plan, as the manual would show it:\n" << plan.dump(2);
            for (const std::string& field : qztest::UndocumentedPlanFields(plan))
                ADD_FAILURE() << "the manual does not document the plan's field " << field;
            DeleteFileW((folder + L"plan.json").c_str());
        }
        if (!example.deployment.empty()) {
            // The manual shows what deployment tools need, from the check this example writes.
            qztest::PlanJson manual;
            try {
                manual = qztest::PlanJson::parse(example.deployment);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "the manual's deployment part is no JSON: " << e.what();
                continue;
            }
            const qztest::PlanJson check =
                ManualPlan(folder + L"folder-check.json", manual, folder, productCodes);
            ASSERT_TRUE(check.contains("deployment"));
            EXPECT_EQ(manual, check["deployment"]) << "the deployment part, as the manual would show it:\n"
                                                   << check["deployment"].dump(2);
        }
    }
    for (const std::wstring& code : productCodes)
        qztest::RemoveProduct(code);
    qztest::RemoveTree(logs);
    RemoveDirectoryW(logs.c_str());
}

} // namespace
