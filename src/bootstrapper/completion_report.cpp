#include "bootstrapper/completion_report.h"

#include <richedit.h>

#include <string>

#include "bootstrapper/plan_report.h"
#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "diag/text_conversion.h"
#include "settings/value_expansion.h"
#include "system/msi_api.h"
#include "system/own_files.h"
#include "system/window_station.h"
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
    return QZ::MSInstaller::IsSuccessResult(static_cast<unsigned>(code)) ? 0 : code;
}

int NormalisedResult(const RunResult& result) {
    const int normalised = NormalisedResult(result.code);
    return normalised == 0 && result.installerFailed ? static_cast<int>(result.installerResult) : normalised;
}

namespace {

bool SameIgnoringCase(const std::wstring& value, const wchar_t* word) {
    return CompareStringOrdinal(value.c_str(), static_cast<int>(value.size()), word, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

bool IsAttendedRun(const VariableMap& variables, bool helpReached) {
    // A run that ended before its mode was derived takes the mode it would
    // have had: a deployment script that names an exit file gets no dialog.
    // Help never derives a mode, so there an exit or response file alone
    // does not make the run unattended: the user asked to see the help.
    // An unattended mode in another letter case is refused as a mode, but
    // whoever wrote it meant nobody to be asked.
    const auto mode = variables.find(QZ_SETUP_MODE);
    const std::wstring name = mode != variables.end() ? mode->second
                              : helpReached           ? std::wstring(g_setupModeNames[INSTALL])
                                                      : std::wstring(DefaultSetupModeName(variables));
    return !SameIgnoringCase(name, g_setupModeNames[UNATTENDED]) &&
           !SameIgnoringCase(name, g_setupModeNames[UNATTENDED_UNINSTALL]);
}

bool ShowsDialogs(const VariableMap& variables, bool helpReached) {
    return IsWindowStationVisible() && IsAttendedRun(variables, helpReached);
}

std::wstring ExitFileText(const RunResult& result) {
    if (result.reason.empty())
        return result.text;
    std::wstring text = result.text;
    if (text.empty() || text.back() != L'\n')
        text += L'\n';
    return text + result.reason;
}

namespace {

// Collects bytes in a buffer of its own and writes them out when it is full.
class DirectWriter {
public:
    explicit DirectWriter(HANDLE file) : m_file(file) {}
    void Put(const char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (m_used == sizeof m_buffer)
                Flush();
            m_buffer[m_used++] = bytes[i];
        }
    }
    // A line end as the text mode writes it.
    void PutLineEnd() { Put("\r\n", 2); }
    void PutNumber(int value) {
        const DecimalDigits digits(value);
        Put(digits.begin(), digits.size());
    }
    bool Flush() {
        DWORD written = 0;
        if (m_used != 0 && (!WriteFile(m_file, m_buffer, static_cast<DWORD>(m_used), &written, nullptr) ||
                            written != m_used)) {
            if (!m_failed)
                m_error = GetLastError();
            m_failed = true;
        }
        m_used = 0;
        return !m_failed;
    }
    DWORD error() const { return m_error != 0 ? m_error : static_cast<DWORD>(ERROR_WRITE_FAULT); }

private:
    HANDLE m_file;
    char m_buffer[1024];
    std::size_t m_used = 0;
    bool m_failed = false;
    DWORD m_error = 0;
};

// The exit file's bytes into `file`, without the heap: UTF-8 (as the system
// converts, a lone surrogate becoming U+FFFD), each line feed written as CR LF
// the way a file in text mode writes it.
bool WriteExitBytes(HANDLE file, int normalised, int code, const std::wstring& text) noexcept {
    DirectWriter out(file);
    out.PutNumber(normalised);
    out.PutLineEnd();
    out.PutNumber(code);
    out.PutLineEnd();
    // The text in short runs, each ending before a line feed or a whole
    // surrogate pair, so that no character is cut.
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == L'\n') {
            out.PutLineEnd();
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && end - at < 256 && text[end] != L'\n')
            ++end;
        if (end < text.size() && end > at + 1 && IS_HIGH_SURROGATE(text[end - 1]))
            --end;
        char bytes[256 * 3];
        const int count = WideCharToMultiByte(CP_UTF8, 0, text.data() + at, static_cast<int>(end - at), bytes,
                                              sizeof bytes, nullptr, nullptr);
        out.Put(bytes, count > 0 ? static_cast<std::size_t>(count) : 0);
        at = end;
    }
    if (out.Flush())
        return true;
    SetLastError(out.error());
    return false;
}

// The exit file, made by the run itself (see CreateOwnFile): it is never
// written into a file or link that someone else put at its name, nor through
// a folder of its path that is a link or that cannot be held meanwhile; no
// folder is made for it. It has no fresh name to fall back on. A file that
// cannot be written whole is removed again: it is whole or absent. False,
// with the system's error as the last error, when it cannot be made or written.
bool WriteOwnExitFile(const wchar_t* path, int normalised, int code, const std::wstring& text) noexcept {
    DWORD error = 0;
    bool nameHeld = false;
    const UniqueFileHandle file = CreateOwnFileOnHeldPath(path, MissingFolders::Leave, GENERIC_WRITE | DELETE,
                                                          FILE_SHARE_READ, error, nameHeld);
    if (!file.valid()) {
        SetLastError(error);
        return false;
    }
    if (WriteExitBytes(file.get(), normalised, code, text))
        return true;
    error = GetLastError();
    DiscardOwnFile(file.get());
    SetLastError(error);
    return false;
}

} // namespace

bool WriteExitFile(const std::wstring& path, int normalised, int code, const std::wstring& text) {
    return WriteOwnExitFile(path.c_str(), normalised, code, text);
}

bool WriteExitFileDirect(const std::wstring& path, int normalised, int code,
                         const std::wstring& text) noexcept {
    // In .bss by name: with -fdata-sections this compiler would give a
    // zero-initialised static a .data$ section of its own, and the exe would
    // carry its 64 KiB of zeros.
    static wchar_t expanded[32768] __attribute__((section(".bss")));
    const DWORD length = ExpandEnvironmentStringsW(path.c_str(), expanded, 32768);
    const wchar_t* const name = length != 0 && length <= 32768 ? expanded : path.c_str();
    return WriteOwnExitFile(name, normalised, code, text);
}

void ReportUnwritableExitFile(const std::wstring& path, DWORD error, bool attended) {
    std::wstring expanded = path;
    try {
        expanded = ExpandEnvironmentVars(path);
    } catch (const WinException&) {
    }
    std::wstring description;
    GetSystemErrorText(error, description);
    std::wstring text;
    FormatResourceMessage(IDS_EXIT_FILE_FAILED, text, expanded, description);
    WriteLogLine(error, text, LOG_ERROR);
    FlushLogStreams();
    if (attended)
        ShowTextViewer(FormatLogLine(&error, text, LOG_ERROR));
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
    // Each part stands on its own: when memory runs out in one, the others
    // still happen. The result line allocates nothing on its way to an open log.
    try {
        WriteLogLine(static_cast<DWORD>(result.code), result.text,
                     result.code == 0 && !result.installerFailed ? LOG_INFO : LOG_ERROR);
    } catch (...) {
    }

    // A plan run shows nothing: its lines go into the plan. Only a plan that
    // cannot be written is shown, as any early end is.
    const bool planRun = result.plan && result.plan->planRun;
    if (planRun) {
        try {
            ReportPlan(result);
        } catch (...) {
        }
    }

    const VariableMap& variables = result.variables;
    try {
        const bool attended = ShowsDialogs(variables, result.helpReached);
        FlushLogStreams();
        const std::wstring buffered = result.buffer.str();
        if (!buffered.empty() && attended && !(planRun && result.plan->written))
            ShowTextViewer(buffered);
    } catch (...) {
    }

    const auto exitFile = variables.find(QZ_SETUP_EXIT_FILE);
    if (exitFile == variables.end())
        return;
    const int normalised = NormalisedResult(result);
    // The result with the reason it ended; without memory for the reason,
    // the result alone.
    const std::wstring* text = &result.text;
    std::wstring withReason;
    try {
        withReason = ExitFileText(result);
        text = &withReason;
    } catch (...) {
    }
    bool written = false;
    try {
        std::wstring path;
        try {
            path = ExpandEnvironmentVars(exitFile->second);
        } catch (const WinException&) {
            path = exitFile->second;
        }
        written = WriteExitFile(path, normalised, result.code, *text);
    } catch (...) {
    }
    if (!written)
        written = WriteExitFileDirect(exitFile->second, normalised, result.code, *text);
    if (!written) {
        const DWORD error = GetLastError();
        try {
            ReportUnwritableExitFile(exitFile->second, error, ShowsDialogs(variables, result.helpReached));
        } catch (...) {
            // The exit code still tells the result.
        }
    }
}
