// Drives the bootstrapper's dialogs from a test: finds a dialog by a control id
// it holds, waits until it is visible, reads it and closes it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qztest {

// Waits for a visible dialog (class #32770) that has a control with
// `controlId`, optionally belonging to `processId` (0: any). Null on time-out.
HWND WaitForDialog(int controlId, DWORD processId = 0, DWORD timeoutMs = 20000);

std::wstring WindowText(HWND window);                 // WM_GETTEXT
std::wstring ControlText(HWND dialog, int controlId); // WM_GETTEXT on the control
std::vector<std::wstring> ComboItems(HWND dialog, int comboId);
int ComboSelection(HWND dialog, int comboId);

// Posts WM_COMMAND with IDOK or IDCANCEL.
void PressOk(HWND dialog);
void PressCancel(HWND dialog);
// Selects an item of a combo box, then presses OK.
void ChooseComboItem(HWND dialog, int comboId, int index);

// Runs `drive` on a helper thread while the caller shows a dialog in-process:
// the thread waits for the dialog with `controlId` and hands it to `drive`.
class InProcessDialogDriver {
public:
    using Action = void (*)(HWND dialog, void* context);
    InProcessDialogDriver(int controlId, Action drive, void* context);
    ~InProcessDialogDriver(); // joins the thread
    InProcessDialogDriver(const InProcessDialogDriver&) = delete;
    InProcessDialogDriver& operator=(const InProcessDialogDriver&) = delete;
    bool found() const { return m_found; }

private:
    static DWORD WINAPI ThreadMain(LPVOID self);
    int m_controlId;
    Action m_drive;
    void* m_context;
    HANDLE m_thread = nullptr;
    volatile bool m_found = false;
};

} // namespace qztest
