#include "install/pre_install.h"

#include <windows.h>
#include <msi.h>

#include <string>

#include "diag/bootstrap_log.h"
#include "diag/errors.h"
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

void InstallRedistributable(const HeldFile& redistributable, InstallerBusyWait& busyWait) {
    // Given up when the installer stays busy; the main package runs anyway.
    if (!busyWait.WaitUntilFree(redistributable.path()))
        return;
    const auto& msi = Msi();
    msi.SetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    std::wstring logFile;
    GetVariable(QZ_SETUP_LOG_FILE, logFile);
    msi.EnableLogW(kPreInstallLogMode, logFile.c_str(), INSTALLLOGATTRIBUTES_APPEND); // best effort
    const std::wstring properties = IsSettingTrue(QZ_SUPPRESS_REBOOT) ? L" REBOOT=\"ReallySuppress\"" : L"";
    // The main package runs whatever this gives.
    msi.InstallProductW(redistributable.path().c_str(), properties.c_str());
}

int CoreBootstrapper_PreInstall(const RedistributablePlan& plan, InstallerBusyWait& busyWait) {
    // A missing redistributable is noted in verbose logs only.
    if (plan.noteLogged)
        WriteLogLine(0, plan.missingNote, LOG_INFO);
    const HeldFile& redistributable = plan.held;
    if (redistributable.held())
        InstallRedistributable(redistributable, busyWait);
    return 0;
}
