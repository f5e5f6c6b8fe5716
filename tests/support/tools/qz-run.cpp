// Runs a Windows program, closes the text viewer dialogs it shows (printing
// their text first), answers the language dialog with OK for the language
// shown first (printing its title, label and choices first) and prints the
// exit code as Windows sees it.
// Usage: qz-run.exe [--cwd DIR] [--keep-dialog-ms N] PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "support/dialog_driver.h"
#include "support/process_runner.h"
#include "support/test_env.h"

namespace {

BOOL CALLBACK FindLabel(HWND child, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Static") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

void PrintLanguageDialog(HWND dialog) {
    HWND label = nullptr;
    EnumChildWindows(dialog, FindLabel, reinterpret_cast<LPARAM>(&label));
    std::printf("---- language dialog \"%s\" ----\n%s\n", qztest::ToUtf8(qztest::WindowText(dialog)).c_str(),
                label ? qztest::ToUtf8(qztest::WindowText(label)).c_str() : "");
    const std::vector<std::wstring> items = qztest::ComboItems(dialog, IDC_LANGUAGE_COMBO);
    const int selected = qztest::ComboSelection(dialog, IDC_LANGUAGE_COMBO);
    for (size_t i = 0; i < items.size(); ++i)
        std::printf("  %s %s\n", static_cast<int>(i) == selected ? "[x]" : "[ ]",
                    qztest::ToUtf8(items[i]).c_str());
    std::printf("  [ OK ]  (pressed)\n---- end of dialog ----\n");
    std::fflush(stdout);
}

} // namespace

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
        if (HWND language = qztest::WaitForDialog(IDC_LANGUAGE_COMBO, process.id(), 100)) {
            Sleep(50); // let WM_INITDIALOG finish filling the box
            PrintLanguageDialog(language);
            Sleep(keepMs);
            qztest::PressOk(language);
            Sleep(300);
            continue;
        }
        HWND dialog = qztest::WaitForDialog(IDC_VIEWER_TEXT, process.id(), 100);
        if (!dialog)
            continue;
        const std::string title = qztest::ToUtf8(qztest::WindowText(dialog));
        std::wstring wide = qztest::ControlText(dialog, IDC_VIEWER_TEXT);
        // The rich edit control ends its lines with CR; a CR LF of the text
        // comes back as CR CR LF or as CR LF: each is one line end.
        for (std::wstring::size_type at = 0; (at = wide.find(L"\r\n", at)) != std::wstring::npos;)
            wide.erase(at, 1);
        for (std::wstring::size_type at = 0; (at = wide.find(L"\r\r", at)) != std::wstring::npos;)
            wide.erase(at, 1);
        for (auto& c : wide)
            if (c == L'\r')
                c = L'\n';
        while (!wide.empty() && wide.back() == L'\n')
            wide.pop_back();
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
