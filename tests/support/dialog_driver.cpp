#include "support/dialog_driver.h"

namespace qztest {
namespace {

struct Search {
    int controlId;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    if (search->processId) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId)
            return TRUE;
    }
    if (!GetDlgItem(window, search->controlId))
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

HWND WaitForDialog(int controlId, DWORD processId, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        Search search{controlId, processId, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(20);
    }
}

std::wstring WindowText(HWND window) {
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring ControlText(HWND dialog, int controlId) {
    return WindowText(GetDlgItem(dialog, controlId));
}

std::vector<std::wstring> ComboItems(HWND dialog, int comboId) {
    std::vector<std::wstring> items;
    const LRESULT count = SendDlgItemMessageW(dialog, comboId, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendDlgItemMessageW(dialog, comboId, CB_GETLBTEXTLEN, i, 0);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        SendDlgItemMessageW(dialog, comboId, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(length));
        items.push_back(text);
    }
    return items;
}

int ComboSelection(HWND dialog, int comboId) {
    return static_cast<int>(SendDlgItemMessageW(dialog, comboId, CB_GETCURSEL, 0, 0));
}

void PressOk(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void PressCancel(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void ChooseComboItem(HWND dialog, int comboId, int index) {
    SendDlgItemMessageW(dialog, comboId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PressOk(dialog);
}

InProcessDialogDriver::InProcessDialogDriver(int controlId, Action drive, void* context)
    : m_controlId(controlId), m_drive(drive), m_context(context) {
    m_thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
}

InProcessDialogDriver::~InProcessDialogDriver() {
    if (m_thread) {
        WaitForSingleObject(m_thread, 30000);
        CloseHandle(m_thread);
    }
}

DWORD WINAPI InProcessDialogDriver::ThreadMain(LPVOID self) {
    auto* driver = static_cast<InProcessDialogDriver*>(self);
    HWND dialog = WaitForDialog(driver->m_controlId, GetCurrentProcessId(), 20000);
    if (dialog) {
        driver->m_found = true;
        driver->m_drive(dialog, driver->m_context);
    }
    return 0;
}

} // namespace qztest
