#include "install/package_run.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include "diag/bootstrap_log.h"
#include "diag/errors.h"
#include "diag/messages.h"
#include "install/busy_wait.h"
#include "install/message_handler.h"
#include "msi/product_registration.h"
#include "system/msi_api.h"
#include "settings/variables.h"

using QZ::MSInstaller::Msi;

namespace {

const wchar_t* const REMOVAL_PIECE = L" REMOVE=\"ALL\"";
const wchar_t* const REPAIR_PIECES =
    L" REINSTALL=\"ALL\" REINSTALLMODE=\"vomus\" MSIENFORCEUPGRADECOMPONENTRULES=\"1\"";
const wchar_t* const REBOOT_PIECE = L" REBOOT=\"ReallySuppress\"";

// Installer log modes: errors, warnings and the essentials; with tracing the
// progress of the actions as well; verbose adds the property dump and debug output.
constexpr DWORD LOG_MODE_BASE = 0xD7;
constexpr DWORD LOG_MODE_TRACE = 0xBDF;
constexpr DWORD LOG_MODE_VERBOSE_BITS = 0x3400;

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

std::wstring ReadVariable(const wchar_t* name) {
    std::wstring value;
    GetVariable(name, value);
    return value;
}

DWORD InstallerLogMode() {
    DWORD mode = IsSettingTrue(QZ_SETUP_TRACE) ? LOG_MODE_TRACE : LOG_MODE_BASE;
    if (IsSettingTrue(QZ_SETUP_VERBOSE))
        mode |= LOG_MODE_VERBOSE_BITS;
    return mode;
}

// A property value the way the installer reads its command line: always in
// double quotes, a double quote inside written as two. A backslash is no
// escape character to the installer, so "\"" would reach it as a backslash
// and an unbalanced quote.
std::wstring QuotePropertyValue(const std::wstring& value) {
    std::wstring quoted(1, L'"');
    for (const wchar_t c : value) {
        if (c == L'"')
            quoted += L'"';
        quoted += c;
    }
    quoted += L'"';
    return quoted;
}

} // namespace

namespace {

// The installer takes the property string as a terminated text: a NUL inside
// a setting (a control or response file may hold one) would silently cut off
// everything after it, the removal, reboot and transform pieces included.
// Such a name or value goes in up to its NUL, the rest of the string intact.
std::wstring UpToNul(const std::wstring& text) {
    return text.substr(0, text.find(L'\0'));
}

} // namespace

std::wstring BuildPropertyString() {
    VariableMap passThrough;
    if (g_variables)
        passThrough = *g_variables;
    for (const wchar_t* name : g_controlVariableNames)
        passThrough.erase(name);

    std::wstring properties;
    for (const auto& entry : passThrough) {
        properties += L' ';
        properties += UpToNul(entry.first);
        properties += L'=';
        properties += QuotePropertyValue(UpToNul(entry.second));
    }
    return properties;
}

std::wstring BuildInstallProperties(bool productRegistered) {
    std::wstring properties = BuildPropertyString();
    const SetupMode mode = GetSetupMode();
    if (mode == UNINSTALL || mode == UNATTENDED_UNINSTALL)
        properties += REMOVAL_PIECE;
    else if (productRegistered)
        properties += REPAIR_PIECES;

    if (IsSettingTrue(QZ_SUPPRESS_REBOOT))
        properties += REBOOT_PIECE;

    // The transform path goes in as it is.
    std::wstring transform;
    if (GetVariable(QZ_SETUP_LANG_TRANSFORM, transform)) {
        properties += L" TRANSFORMS=\"";
        properties += UpToNul(transform);
        properties += L'"';
    }
    return properties;
}

std::wstring DecideInstallProperties(QZ::MSInstaller::Package& package) {
    const SetupMode mode = GetSetupMode();
    const bool removal = mode == UNINSTALL || mode == UNATTENDED_UNINSTALL;
    return BuildInstallProperties(!removal && QZ::MSInstaller::IsProductRegistered(
                                                  package.ProductCode(), L" Fnc : RunPackage; Line : 229; "));
}

unsigned RunPackage(QZ::MSInstaller::Package& package, InstallerBusyWait& busyWait) {
    const auto& msi = Msi();
    const std::wstring& packagePath = package.Path();
    const std::wstring packageName = ReadVariable(QZ_SETUP_PACKAGE_NAME);

    std::wstring banner;
    FormatResourceMessage(IDS_INSTALL_BANNER, banner, packagePath, packageName, package.ProductVersion());
    WriteLogLine(banner, LOG_INFO);

    // The installer's own log goes behind the bootstrapper's lines in the same file.
    const std::wstring logPath = ReadVariable(QZ_SETUP_LOG_FILE);
    UINT result = msi.EnableLogW(InstallerLogMode(), logPath.c_str(), INSTALLLOGATTRIBUTES_APPEND);
    if (result != ERROR_SUCCESS)
        ThrowWinException(result, L" Fnc : RunPackage; Line : 187; ");

    const SetupMode mode = GetSetupMode();
    const bool unattended = mode == UNATTENDED || mode == UNATTENDED_UNINSTALL;
    msi.SetInternalUI(unattended ? INSTALLUILEVEL_NONE : INSTALLUILEVEL_FULL, nullptr);

    ComInitialization com;

    // The handler looks error texts up in the package's database, which its
    // owner keeps open until after the installation call has returned.
    msi.SetExternalUIW(InstallerMessageHandler, INSTALLLOGMODE_ERROR,
                       reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(package.Database())));

    const std::wstring properties = DecideInstallProperties(package);

    // Another installation running: an unattended run that asks for it waits;
    // when time runs out the run ends as if the installer had said so.
    if (!busyWait.WaitUntilFree(packagePath))
        return ERROR_INSTALL_ALREADY_RUNNING;

    FlushLogStreams();
    const UINT installResult = msi.InstallProductW(packagePath.c_str(), properties.c_str());

    com.reset();
    return installResult;
}
