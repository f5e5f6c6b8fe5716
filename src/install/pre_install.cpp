#include "install/pre_install.h"

#include <windows.h>
#include <msi.h>

#include <string>

#include "diag/bootstrap_log.h"
#include "diag/errors.h"
#include "diag/messages.h"
#include "install/busy_wait.h"
#include "msi/package_properties.h"
#include "settings/variables.h"
#include "system/machine_queries.h"
#include "system/msi_api.h"
#include "system/path_helpers.h"

using QZ::MSInstaller::Msi;

namespace {

// The installer's log during the pre-install: property dump, verbose and
// extra debug output only.
constexpr DWORD kPreInstallLogMode =
    INSTALLLOGMODE_PROPERTYDUMP | INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_EXTRADEBUG;
static_assert(kPreInstallLogMode == 0x3400, "the pre-install's log mode");

// Notes the missing redistributable (message 120, or 121 on systems up to
// version 5), for verbose logs only.
void ReportMissing(const std::wstring& path) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version))
        ThrowWinException(GetLastError(), L" Fnc : CoreBootstrapper_PreInstall; Line : 88; ");
    std::wstring text;
    FormatResourceMessage(version.dwMajorVersion > 5 ? IDS_REDIST_REQUIRED : IDS_REDIST_SKIPPED, text, path);
    if (IsSettingTrue(QZ_SETUP_VERBOSE))
        WriteLogLine(0, text, LOG_INFO);
}

} // namespace

std::wstring RedistributableFileName(const MachineFacts& machine, DWORD packagePlatform) {
    // An Arm64 machine runs x64 and x86 packages too: the runtime must be
    // the one of the package that is installed.
    const DWORD processor = NativeProcessorOf(machine) == PROCESSOR_ARCHITECTURE_ARM64
                                ? packagePlatform
                                : NativeProcessorOf(machine);
    return std::wstring(L"MSVS2010SP1_") + RedistributableSuffix(processor) + L".msi";
}

HeldFile ChooseRedistributable(QZ::MSInstaller::Package& package) {
    const MachineFacts machine = GetMachineFacts();
    if (GetSetupMode() != UNATTENDED)
        return HeldFile();

    const DWORD packagePlatform =
        NativeProcessorOf(machine) == PROCESSOR_ARCHITECTURE_ARM64 && package.IsOpen()
            ? package.Platform()
            : QZ::MSInstaller::PLATFORM_UNRECOGNISED;
    std::wstring path = RedistributableFileName(machine, packagePlatform);
    Rel2AbsFilePath(path);
    HeldFile redistributable = HeldFile::Hold(path, L" Fnc : ChooseRedistributable; Line : 72; ");
    if (!redistributable.held()) {
        if (!FileExists(path)) {
            ReportMissing(path);
            return HeldFile();
        }
        // It is there after all: a file that could not be held is not installed.
        redistributable.Confirm(L" Fnc : ChooseRedistributable; Line : 78; ");
    }
    return redistributable;
}

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

int CoreBootstrapper_PreInstall(QZ::MSInstaller::Package& package, InstallerBusyWait& busyWait) {
    const HeldFile redistributable = ChooseRedistributable(package);
    if (redistributable.held())
        InstallRedistributable(redistributable, busyWait);
    return 0;
}
