// Waiting for Windows Installer while another installation runs, for the
// unattended runs that ask for it (QZ_SETUP_BUSY_WAIT).
#pragma once
#include <windows.h>

#include <string>

// The run's wait for a busy installer: one deadline for the whole run,
// counted from its first wait. The run makes it once and hands it to each
// of its installer calls.
class InstallerBusyWait {
public:
    // No wait: the installer is called whatever it is doing.
    InstallerBusyWait() = default;
    explicit InstallerBusyWait(unsigned seconds) : m_applies(true), m_seconds(seconds) {}

    // The wait of the run whose settings are published: an unattended run
    // with QZ_SETUP_BUSY_WAIT waits; an attended one leaves it to the
    // installer's own user interface.
    static InstallerBusyWait ForRun();

    // Before the installer is called for `file`: waits while the installer
    // is busy, looking again about once a second, until the deadline. A call
    // that finds the installer busy logs message 131 once, with the seconds
    // left; one that gives up logs message 145, naming the file. True when
    // the installer may be called: it is free, or no wait applies; false
    // when the run's time is used up.
    bool WaitUntilFree(const std::wstring& file);

private:
    bool m_applies = false;
    unsigned m_seconds = 0;
    bool m_started = false;
    ULONGLONG m_deadline = 0;
};
