#include "install/busy_wait.h"

#include <string>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "settings/variables.h"
#include "system/installer_mutex.h"

namespace {

constexpr DWORD kLookEveryMs = 1000;

// Whole seconds left until `deadline`, rounded up.
unsigned SecondsLeft(ULONGLONG now, ULONGLONG deadline) {
    return now >= deadline ? 0 : static_cast<unsigned>((deadline - now + 999) / 1000);
}

} // namespace

InstallerBusyWait InstallerBusyWait::ForRun() {
    const SetupMode mode = GetSetupMode();
    std::wstring value;
    unsigned seconds = 0;
    if ((mode != UNATTENDED && mode != UNATTENDED_UNINSTALL) || !GetVariable(QZ_SETUP_BUSY_WAIT, value) ||
        !ParseBusyWaitSeconds(value, seconds))
        return InstallerBusyWait();
    return InstallerBusyWait(seconds);
}

bool InstallerBusyWait::WaitUntilFree(const std::wstring& file) {
    if (!m_applies || !IsInstallerBusy())
        return true;
    ULONGLONG now = GetTickCount64();
    if (!m_started) {
        m_started = true;
        m_deadline = now + static_cast<ULONGLONG>(m_seconds) * 1000;
    }
    std::wstring text;
    if (now < m_deadline) {
        FormatResourceMessage(IDS_INSTALLER_BUSY, text, SecondsLeft(now, m_deadline));
        WriteLogLine(text, LOG_INFO);
        FlushLogStreams();
        while (now < m_deadline) {
            const ULONGLONG left = m_deadline - now;
            Sleep(static_cast<DWORD>(left < kLookEveryMs ? left : kLookEveryMs));
            if (!IsInstallerBusy())
                return true;
            now = GetTickCount64();
        }
    }
    // The run's time is used up, in this call or an earlier one.
    FormatResourceMessage(IDS_INSTALLER_STILL_BUSY, text, m_seconds, file);
    WriteLogLine(text, LOG_INFO);
    FlushLogStreams();
    return false;
}
