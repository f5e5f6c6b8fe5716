// Runs a Windows program, closes the text viewer dialogs it shows (printing
// their text first) and prints its exit code as Windows sees it.
// Usage: qz-run.exe [--cwd DIR] [--keep-dialog-ms N] PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/process_runner.h"
#include "support/test_env.h"

int wmain(int argc, wchar_t** argv) {
    qztest::ProcessOptions options;
    DWORD keepMs = 0;
    int i = 1;
    for (; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--cwd" && i + 1 < argc)
            options.workingDir = argv[++i];
        else if (option == L"--keep-dialog-ms" && i + 1 < argc)
            keepMs = static_cast<DWORD>(_wtoi(argv[++i]));
        else
            break;
    }
    if (i >= argc) {
        std::fwprintf(stderr, L"usage: qz-run.exe [--cwd DIR] [--keep-dialog-ms N] PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const std::wstring program = argv[i++];
    std::wstring tail;
    for (; i < argc; ++i) {
        if (!tail.empty())
            tail += L" ";
        tail += qztest::QuoteArgument(argv[i]);
    }

    qztest::RunningProcess process(program, tail, options);
    for (;;) {
        if (WaitForSingleObject(process.handle(), 0) == WAIT_OBJECT_0)
            break;
        HWND dialog = qztest::WaitForDialog(IDC_VIEWER_TEXT, process.id(), 200);
        if (!dialog)
            continue;
        const std::string title = qztest::ToUtf8(qztest::WindowText(dialog));
        std::wstring wide = qztest::ControlText(dialog, IDC_VIEWER_TEXT);
        for (auto& c : wide)
            if (c == L'\r')
                c = L'\n'; // the rich edit control ends its lines with CR
        const std::string text = qztest::ToUtf8(wide);
        std::printf("---- dialog \"%s\" ----\n%s\n---- end of dialog ----\n", title.c_str(), text.c_str());
        std::fflush(stdout);
        Sleep(keepMs);
        qztest::PressOk(dialog);
        Sleep(300);
    }
    const qztest::ProcessResult result = process.Wait(INFINITE);
    std::printf("exit code: %lu\n", static_cast<unsigned long>(result.exitCode));
    return 0;
}
