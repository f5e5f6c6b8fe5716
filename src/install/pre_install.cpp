#include "install/pre_install.h"

#include <windows.h>
#include <msi.h>

#include <string>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "install/busy_wait.h"
#include "settings/variables.h"
#include "system/msi_api.h"

using QZ::MSInstaller::Msi;

namespace {

// The installer's log during the pre-install: property dump, verbose and
// extra debug output only.
constexpr DWORD kPreInstallLogMode =
    INSTALLLOGMODE_PROPERTYDUMP | INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_EXTRADEBUG;
static_assert(kPreInstallLogMode == 0x3400, "the pre-install's log mode");

} // namespace

RedistributableOutcome InstallRedistributable(const HeldFile& redistributable, InstallerBusyWait& busyWait) {
    RedistributableOutcome outcome;
    // Given up when the installer stays busy; the main package runs anyway.
    if (!busyWait.WaitUntilFree(redistributable.path()))
        return outcome;
    const auto& msi = Msi();
    msi.SetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    std::wstring logFile;
    GetVariable(QZ_SETUP_LOG_FILE, logFile);
    // Best effort, and only into the file the run made: when the name no
    // longer leads to it, the redistributable's call gets no log.
    if (IsLogFileStillThere(logFile)) {
        msi.EnableLogW(kPreInstallLogMode, logFile.c_str(), INSTALLLOGATTRIBUTES_APPEND);
    } else {
        std::wstring line;
        FormatResourceMessage(IDS_REDIST_LOG_REFUSED, line, logFile);
        WriteLogLine(line, LOG_INFO);
    }
    // The main package runs whatever this gives.
    outcome.result = msi.InstallProductW(redistributable.path().c_str(), kRedistributableProperties);
    outcome.ran = true;
    return outcome;
}

unsigned ResultWithRedistributable(unsigned packageResult, const RedistributableOutcome& redistributable) {
    const bool needsRestart = redistributable.ran && QZ::MSInstaller::IsRestartResult(redistributable.result);
    return packageResult == ERROR_SUCCESS && needsRestart ? ERROR_SUCCESS_REBOOT_REQUIRED : packageResult;
}

int CoreBootstrapper_PreInstall(const RedistributablePlan& plan, InstallerBusyWait& busyWait,
                                RedistributableOutcome* outcome) {
    // A missing redistributable is noted in verbose logs only.
    if (plan.noteLogged)
        WriteLogLine(0, plan.missingNote, LOG_INFO);
    const HeldFile& redistributable = plan.held;
    RedistributableOutcome installed;
    if (redistributable.held())
        installed = InstallRedistributable(redistributable, busyWait);
    const UINT result = installed.result;
    if (installed.ran && !QZ::MSInstaller::IsSuccessResult(result)) {
        std::wstring description;
        GetSystemErrorText(result, description);
        std::wstring text;
        FormatResourceMessage(IDS_REDISTRIBUTABLE_FAILED, text, redistributable.path(),
                              std::to_wstring(result), description);
        WriteLogLine(result, text, LOG_INFO);
    }
    if (outcome)
        *outcome = installed;
    return 0;
}
