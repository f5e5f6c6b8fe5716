#include "bootstrapper/completion_report.h"

#include <richedit.h>

#include <fstream>
#include <locale>
#include <string>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "settings/value_expansion.h"
#include "system/win_owners.h"

namespace {

// The rich edit control's library, from the system directory only: the
// bootstrapper runs elevated, often from a download folder.
HMODULE LoadRichEditLibrary() {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    const std::wstring path = std::wstring(system, length) + L"\\Riched20.dll";
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void CentreOnDesktop(HWND dialog) {
    RECT desktop{}, window{};
    GetClientRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &window);
    const int dx = ((desktop.right - desktop.left) - (window.right - window.left)) / 2;
    const int dy = ((desktop.bottom - desktop.top) - (window.bottom - window.top)) / 2;
    OffsetRect(&window, dx, dy);
    SetWindowPos(dialog, nullptr, window.left, window.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

} // namespace

int NormalisedResult(int code) {
    return (code == 0 || code == ERROR_SUCCESS_REBOOT_INITIATED || code == ERROR_SUCCESS_REBOOT_REQUIRED)
               ? 0
               : code;
}

bool IsAttendedRun(const VariableMap& variables, bool helpShown) {
    // A run that ended before its mode was derived takes the mode it would
    // have had: a deployment script that names an exit file gets no dialog.
    // Help never derives a mode, so there an exit or response file alone
    // does not make the run unattended: the user asked to see the help.
    const auto mode = variables.find(QZ_SETUP_MODE);
    const std::wstring name = mode != variables.end() ? mode->second
                              : helpShown             ? std::wstring(g_setupModeNames[INSTALL])
                                                      : std::wstring(DefaultSetupModeName(variables));
    return name != g_setupModeNames[UNATTENDED] && name != g_setupModeNames[UNATTENDED_UNINSTALL];
}

void WriteExitFile(const std::wstring& path, int code, const std::wstring& text) {
    std::wofstream out(path.c_str(), std::ios::out | std::ios::trunc);
    if (!out)
        return;
    out.imbue(std::locale(std::locale(), new UTF8cvt<wchar_t>));
    out << NormalisedResult(code) << L'\n' << code << L'\n';
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void ShowTextViewer(const std::wstring& text) {
    UniqueModule richEdit(LoadRichEditLibrary());
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TEXT_VIEWER), nullptr, TextViewerDialog,
                    reinterpret_cast<LPARAM>(text.c_str()));
}

INT_PTR CALLBACK TextViewerDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SETTEXTEX settings{ST_DEFAULT, 1200};
        SendDlgItemMessageW(dialog, IDC_VIEWER_TEXT, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&settings),
                            lParam);
        wchar_t title[256] = {};
        LoadStringW(GetModuleHandleW(nullptr), IDS_VIEWER_TITLE, title, 256);
        SetWindowTextW(dialog, title);
        CentreOnDesktop(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 1);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void ReportCompletion(RunResult& result) {
    WriteLogLine(static_cast<DWORD>(result.code), result.text, result.code == 0 ? LOG_INFO : LOG_ERROR);

    const VariableMap& variables = result.variables;
    const bool attended = IsAttendedRun(variables, result.end == RunEnd::HelpShown);
    FlushLogStreams();
    const std::wstring buffered = result.buffer.str();
    if (!buffered.empty() && attended)
        ShowTextViewer(buffered);

    const auto exitFile = variables.find(QZ_SETUP_EXIT_FILE);
    if (exitFile != variables.end()) {
        std::wstring path;
        try {
            path = ExpandEnvironmentVars(exitFile->second);
        } catch (...) {
            path = exitFile->second;
        }
        WriteExitFile(path, result.code, result.text);
    }
}
