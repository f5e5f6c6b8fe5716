#include "support/setup_runner.h"

#include <gtest/gtest.h>

#include <set>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/plan_reader.h"
#include "support/test_env.h"

namespace qztest {

std::wstring InstallSetupExe(const std::wstring& dir) {
    const std::wstring target = dir + L"qz-setup.exe";
    if (!PathExists(target))
        CopyFileOrThrow(SetupExePath(), target);
    return target;
}

SetupRun RunSetup(const std::wstring& dir, const std::vector<std::wstring>& arguments,
                  const SetupOptions& options) {
    std::wstring tail;
    for (const auto& argument : arguments) {
        if (!tail.empty())
            tail += L" ";
        tail += QuoteArgument(argument);
    }
    return RunSetupCommandLine(dir, tail, options);
}

SetupRun RunSetupCommandLine(const std::wstring& dir, const std::wstring& tail, const SetupOptions& options) {
    const std::wstring exe = InstallSetupExe(dir);
    ProcessOptions processOptions = options.process;
    if (processOptions.workingDir.empty())
        processOptions.workingDir = dir;

    SetupRun run;
    RunningProcess process(exe, tail, processOptions);
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(process.handle(), 0) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > processOptions.timeoutMs)
            break;
        if (options.onLanguageDialog) {
            if (HWND language = WaitForDialog(IDC_LANGUAGE_COMBO, process.id(), 50)) {
                options.onLanguageDialog(language);
                Sleep(200);
                continue;
            }
        }
        HWND viewer = WaitForDialog(IDC_VIEWER_TEXT, process.id(), 50);
        if (!viewer)
            continue;
        Sleep(50); // let WM_INITDIALOG finish filling the control
        if (options.onTextViewer)
            options.onTextViewer(viewer);
        run.dialogs.push_back(ControlText(viewer, IDC_VIEWER_TEXT));
        run.exitFileWhileDialog.push_back(!options.exitFileToWatch.empty() &&
                                          PathExists(options.exitFileToWatch));
        PressOk(viewer);
        // Wait for this dialog to go before looking for the next one, however
        // slowly a loaded machine closes it: seen again, it would count twice.
        while (IsWindow(viewer) && WaitForSingleObject(process.handle(), 20) == WAIT_TIMEOUT &&
               GetTickCount() - start <= processOptions.timeoutMs) {
        }
    }
    const DWORD elapsed = GetTickCount() - start;
    const DWORD left = elapsed < processOptions.timeoutMs ? processOptions.timeoutMs - elapsed : 0;
    const ProcessResult result = process.Wait(left);
    run.exitCode = result.exitCode;
    run.timedOut = result.timedOut;
    return run;
}

std::vector<std::wstring> ReadLogLines(const std::wstring& path, bool* hadByteOrderMark) {
    std::wstring text = ReadUtf16File(path);
    const bool bom = !text.empty() && text[0] == 0xFEFF;
    if (hadByteOrderMark)
        *hadByteOrderMark = bom;
    if (!bom)
        return {};
    text.erase(0, 1);
    std::vector<std::wstring> lines = SplitLines(text);
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

ExitFileParts ReadExitFile(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    const size_t first = bytes.find("\r\n");
    const size_t second = first == std::string::npos ? first : bytes.find("\r\n", first + 2);
    if (second == std::string::npos)
        return {bytes, "", ""};
    return {bytes.substr(0, first), bytes.substr(first + 2, second - first - 2), bytes.substr(second + 2)};
}

std::string ExitFileBytes(int normalised, int code, const std::wstring& text) {
    std::string bytes;
    for (const char c : std::to_string(normalised) + "\n" + std::to_string(code) + "\n" + ToUtf8(text)) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    return bytes;
}

SetupRun RunSetupLeavingNothing(const std::wstring& dir, const std::vector<std::wstring>& arguments,
                                const SetupOptions& options,
                                const std::function<bool(const std::wstring&)>& kept) {
    const std::set<std::wstring> before = ListTree(dir);
    const std::set<std::wstring> tempBefore = ListTree(TempFolder(), dir);
    SetupRun run = RunSetup(dir, arguments, options);
    EXPECT_FALSE(run.timedOut);
    std::set<std::wstring> added;
    for (const auto& path : ListTree(dir))
        if (!before.count(path) && !kept(path))
            added.insert(path);
    EXPECT_TRUE(added.empty()) << ToUtf8(*added.begin());
    EXPECT_EQ(tempBefore, ListTree(TempFolder(), dir));
    return run;
}

} // namespace qztest
