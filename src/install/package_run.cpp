#include "install/package_run.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "install/busy_wait.h"
#include "install/message_handler.h"
#include "system/msi_api.h"

using QZ::MSInstaller::Msi;

namespace {

// COM on the calling thread for as long as the installation runs.
class ComInitialization {
public:
    ComInitialization() : m_initialized(SUCCEEDED(CoInitialize(nullptr))) {}
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;
    ~ComInitialization() { reset(); }

    void reset() noexcept {
        // Only a successful initialisation is balanced: the thread may already
        // run COM in another mode, which is not ours to end.
        if (m_initialized)
            CoUninitialize();
        m_initialized = false;
    }

private:
    bool m_initialized;
};

} // namespace

unsigned RunPackage(QZ::MSInstaller::Package& package, const InstallPlan& plan, InstallerBusyWait& busyWait) {
    const auto& msi = Msi();
    WriteLogLine(plan.banner, LOG_INFO);
    // A removal says whether there is anything of the product to remove.
    if (!plan.removalNote.empty())
        WriteLogLine(plan.removalNote, LOG_INFO);

    // The installer's own log goes behind the bootstrapper's lines in the same file.
    ConfirmLogFile(plan.logFile, L" Fnc : RunPackage; Line : 186; ");
    const UINT result = msi.EnableLogW(plan.logMode, plan.logFile.c_str(), INSTALLLOGATTRIBUTES_APPEND);
    if (result != ERROR_SUCCESS)
        ThrowWinException(result, L" Fnc : RunPackage; Line : 187; ");

    msi.SetInternalUI(plan.silent ? INSTALLUILEVEL_NONE : INSTALLUILEVEL_FULL, nullptr);

    ComInitialization com;

    // The handler looks error texts up in the package's database, which its
    // owner keeps open until after the installation call has returned.
    msi.SetExternalUIW(InstallerMessageHandler, INSTALLLOGMODE_ERROR,
                       reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(package.Database())));

    // Another installation running: an unattended run that asks for it waits;
    // when time runs out the run ends as if the installer had said so.
    if (!busyWait.WaitUntilFree(package.Path()))
        return ERROR_INSTALL_ALREADY_RUNNING;

    FlushLogStreams();
    const UINT installResult = msi.InstallProductW(package.Path().c_str(), plan.properties.c_str());

    com.reset();
    return installResult;
}
