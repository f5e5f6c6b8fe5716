// Waiting for Windows Installer while another installation runs, for the
// unattended runs that ask for it (QZ_SETUP_BUSY_WAIT).
#pragma once
#include <windows.h>

// One deadline for the whole run, counted from its first wait.
class InstallerBusyWait {
public:
    explicit InstallerBusyWait(unsigned seconds) : m_seconds(seconds) {}

    // Waits while the installer is busy, looking again about once a second,
    // until the deadline. A call that finds the installer busy logs message
    // 131 once, with the seconds left. True when the installer is free;
    // false when time ran out.
    bool WaitUntilFree();

private:
    unsigned m_seconds;
    bool m_started = false;
    ULONGLONG m_deadline = 0;
};

// Before an installer call: in an unattended run with QZ_SETUP_BUSY_WAIT,
// waits for the installer as above, with the run's one deadline. True when
// the installer may be called: it is free, or no wait applies.
bool WaitForInstaller();
