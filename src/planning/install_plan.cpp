#include "planning/install_plan.h"

#include <msi.h>

#include "system/errors.h"
#include "diag/messages.h"
#include "msi/product_registration.h"
#include "system/path_helpers.h"
#include "system/restart_signals.h"

namespace {

constexpr DWORD LOG_MODE_BASE = 0xD7;
constexpr DWORD LOG_MODE_TRACE = 0xBDF;
constexpr DWORD LOG_MODE_VERBOSE_BITS = 0x3400;

const wchar_t* const REPAIR_NAMES[] = {L"REINSTALL", L"REINSTALLMODE", L"MSIENFORCEUPGRADECOMPONENTRULES"};
const wchar_t* const REPAIR_VALUES[] = {L"ALL", L"vomus", L"1"};

struct LogLetter {
    DWORD bit;
    wchar_t letter;
};

// msiexec's letters, in the order of its documentation.
const LogLetter g_logLetters[] = {
    {INSTALLLOGMODE_INFO, L'i'},           {INSTALLLOGMODE_WARNING, L'w'},
    {INSTALLLOGMODE_ERROR, L'e'},          {INSTALLLOGMODE_ACTIONSTART, L'a'},
    {INSTALLLOGMODE_ACTIONDATA, L'r'},     {INSTALLLOGMODE_USER, L'u'},
    {INSTALLLOGMODE_COMMONDATA, L'c'},     {INSTALLLOGMODE_FATALEXIT, L'm'},
    {INSTALLLOGMODE_OUTOFDISKSPACE, L'o'}, {INSTALLLOGMODE_PROPERTYDUMP, L'p'},
    {INSTALLLOGMODE_VERBOSE, L'v'},        {INSTALLLOGMODE_EXTRADEBUG, L'x'},
};

// The boolean rule of the settings: "1", or "yes" or "true" in any letter case.
bool IsTrue(const VariableMap& variables, const wchar_t* name) {
    return IsTrueValue(VariableValue(variables, name));
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

// The installer takes the property string as a terminated text: a NUL inside
// a setting (a control or response file may hold one) would silently cut off
// everything after it, the removal, reboot and transform pieces included.
// Such a name or value goes in up to its NUL, the rest of the string intact.
std::wstring UpToNul(const std::wstring& text) {
    return text.substr(0, text.find(L'\0'));
}

// One piece " NAME="value"", masked where `hidden` says so.
std::wstring Piece(const std::wstring& name, const std::wstring& value, const HiddenValues* hidden) {
    return L" " + name + L"=" + QuotePropertyValue(hidden ? hidden->Shown(name, value) : value);
}

// A path in double quotes, as msiexec reads its arguments.
std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

// What a removal finds on the machine: the product installed, or not, and
// then any other version of it that is. An answer the installer cannot give
// leaves the removal as it is, unnamed.
void PlanRemoval(InstallPlan& plan, QZ::MSInstaller::Package& package, bool assumedNotInstalled) {
    const PlannedPackage& chosen = plan.package;
    const UINT registration = assumedNotInstalled ? static_cast<UINT>(ERROR_UNKNOWN_PRODUCT)
                                                  : QZ::MSInstaller::ProductRegistration(chosen.productCode);
    if (registration != ERROR_SUCCESS && registration != ERROR_UNKNOWN_PRODUCT)
        return;
    plan.removalChecked = true;
    plan.productRegistered = registration == ERROR_SUCCESS;
    if (plan.productRegistered) {
        FormatResourceMessage(IDS_PRODUCT_INSTALLED, plan.removalNote, chosen.productName,
                              chosen.productVersion, chosen.productCode, chosen.file);
        return;
    }
    plan.upgradeCode = package.UpgradeCode();
    if (!assumedNotInstalled)
        plan.otherVersions = QZ::MSInstaller::InstalledRelatedProducts(plan.upgradeCode, chosen.productCode);
    if (plan.otherVersions.empty()) {
        FormatResourceMessage(IDS_PRODUCT_NOT_INSTALLED, plan.removalNote, chosen.productName,
                              chosen.productVersion, chosen.productCode, chosen.file);
        return;
    }
    const QZ::MSInstaller::RelatedProduct& other = plan.otherVersions.front();
    FormatResourceMessage(IDS_OTHER_VERSION_INSTALLED, plan.removalNote, chosen.productName,
                          chosen.productVersion, chosen.productCode, chosen.file, other.productName,
                          other.version, other.productCode);
}

} // namespace

const char* OperationName(InstallOperation operation) {
    switch (operation) {
    case InstallOperation::Repair:
        return "repair";
    case InstallOperation::Remove:
        return "remove";
    case InstallOperation::Install:
        break;
    }
    return "install";
}

DWORD InstallerLogMode(bool trace, bool verbose) {
    DWORD mode = trace ? LOG_MODE_TRACE : LOG_MODE_BASE;
    if (verbose)
        mode |= LOG_MODE_VERBOSE_BITS;
    return mode;
}

std::wstring LogModeLetters(DWORD mode) {
    std::wstring letters;
    for (const LogLetter& letter : g_logLetters)
        if (mode & letter.bit)
            letters += letter.letter;
    return letters;
}

std::wstring MsiexecCommandLine(const std::wstring& package, const std::wstring& properties, bool silent,
                                DWORD logMode, const std::wstring& logFile) {
    std::wstring command = L"msiexec.exe /i " + Quoted(package) + properties;
    command += silent ? L" /qn" : L" /qf";
    if (!logFile.empty())
        command += L" /l" + LogModeLetters(logMode) + L"+ " + Quoted(logFile);
    return command;
}

InstallOperation OperationFor(SetupMode mode, bool productRegistered) {
    if (mode == UNINSTALL || mode == UNATTENDED_UNINSTALL)
        return InstallOperation::Remove;
    return productRegistered ? InstallOperation::Repair : InstallOperation::Install;
}

std::wstring PassThroughProperties(const VariableMap& variables, const HiddenValues* hidden) {
    std::wstring properties;
    for (const auto& entry : variables)
        if (!IsControlVariable(entry.first))
            properties += Piece(UpToNul(entry.first), UpToNul(entry.second), hidden);
    return properties;
}

std::wstring InstallPropertyString(const VariableMap& variables, InstallOperation operation,
                                   const HiddenValues* hidden, const std::wstring& patches) {
    std::wstring properties = PassThroughProperties(variables, hidden);
    if (operation == InstallOperation::Remove)
        properties += Piece(L"REMOVE", L"ALL", hidden);
    else if (operation == InstallOperation::Repair)
        for (std::size_t i = 0; i < 3; ++i)
            properties += Piece(REPAIR_NAMES[i], REPAIR_VALUES[i], hidden);
    if (IsTrue(variables, QZ_SUPPRESS_REBOOT))
        properties += Piece(L"REBOOT", L"ReallySuppress", hidden);
    // The transform path goes in as it is.
    const std::wstring transform = VariableValue(variables, QZ_SETUP_LANG_TRANSFORM);
    if (!transform.empty())
        properties += L" TRANSFORMS=\"" +
                      (hidden ? hidden->Shown(L"TRANSFORMS", UpToNul(transform)) : UpToNul(transform)) +
                      L"\"";
    if (!patches.empty() && operation != InstallOperation::Remove)
        properties += Piece(L"PATCH", patches, hidden);
    return properties;
}

std::wstring RedistributableFileName(const MachineFacts& machine, DWORD packagePlatform) {
    // An Arm64 machine runs x64 and x86 packages too: the runtime must be
    // the one of the package that is installed.
    const DWORD processor = NativeProcessorOf(machine) == PROCESSOR_ARCHITECTURE_ARM64
                                ? packagePlatform
                                : NativeProcessorOf(machine);
    return std::wstring(L"MSVS2010SP1_") + RedistributableSuffix(processor) + L".msi";
}

std::wstring RedistributableMissingNote(const std::wstring& file) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version))
        ThrowWinException(GetLastError(), L" Fnc : CoreBootstrapper_PreInstall; Line : 88; ");
    std::wstring note;
    FormatResourceMessage(version.dwMajorVersion > 5 ? IDS_REDIST_REQUIRED : IDS_REDIST_SKIPPED, note, file);
    return note;
}

const wchar_t kRedistributableProperties[] = L" REBOOT=\"ReallySuppress\"";

PendingRestart PlanPendingRestart() {
    PendingRestart pending;
    pending.signals = PendingRestartSignals();
    if (pending.signals.empty())
        return pending;
    std::wstring names;
    for (const std::wstring& name : pending.signals)
        names += (names.empty() ? L"" : L", ") + name;
    FormatResourceMessage(IDS_RESTART_PENDING, pending.note, names);
    return pending;
}

RedistributablePlan PlanRedistributable(const VariableMap& variables, DWORD packagePlatform,
                                        const MachineFacts& machine) {
    RedistributablePlan redistributable;
    if (SetupModeOf(variables) != UNATTENDED)
        return redistributable;
    redistributable.file = RedistributableFileName(machine, packagePlatform);
    Rel2AbsFilePath(redistributable.file);
    redistributable.held = HeldFile::Hold(redistributable.file, L" Fnc : ChooseRedistributable; Line : 72; ");
    if (!redistributable.held.held() && FileExists(redistributable.file))
        // It is there after all: a file that could not be held is not installed.
        redistributable.held.Confirm(L" Fnc : ChooseRedistributable; Line : 78; ");
    if (redistributable.held.held()) {
        redistributable.basis = RedistributablePlan::Basis::Present;
        redistributable.present = true;
        redistributable.wouldRun = true;
        redistributable.properties = kRedistributableProperties;
        return redistributable;
    }
    redistributable.basis = RedistributablePlan::Basis::Missing;
    redistributable.missingNote = RedistributableMissingNote(redistributable.file);
    redistributable.noteLogged = IsTrue(variables, QZ_SETUP_VERBOSE);
    return redistributable;
}

InstallPlan PlanPackageRun(const VariableMap& variables, QZ::MSInstaller::Package& package,
                           const PatchPlan* patches, bool assumedNotInstalled) {
    InstallPlan plan;
    plan.package.file = package.Path();
    plan.package.productName = package.ProductName();
    plan.package.productVersion = package.ProductVersion();
    plan.package.productLanguage = package.ProductLanguage();
    plan.package.platform = package.Platform();
    plan.package.hiddenProperties = package.HiddenProperties();
    plan.hidden = HiddenValues(plan.package.hiddenProperties);
    plan.mode = SetupModeOf(variables);

    FormatResourceMessage(IDS_INSTALL_BANNER, plan.banner, plan.package.file,
                          VariableValue(variables, QZ_SETUP_PACKAGE_NAME), plan.package.productVersion);
    plan.logFile = VariableValue(variables, QZ_SETUP_LOG_FILE);
    plan.logMode = InstallerLogMode(IsTrue(variables, QZ_SETUP_TRACE), IsTrue(variables, QZ_SETUP_VERBOSE));
    plan.silent = plan.mode == UNATTENDED || plan.mode == UNATTENDED_UNINSTALL;

    // A removal does not ask whether the product is there.
    plan.package.productCode = package.ProductCode();
    if (plan.mode != UNINSTALL && plan.mode != UNATTENDED_UNINSTALL && !assumedNotInstalled)
        plan.productRegistered = QZ::MSInstaller::IsProductRegistered(plan.package.productCode,
                                                                      L" Fnc : RunPackage; Line : 229; ");
    plan.operation = OperationFor(plan.mode, plan.productRegistered);
    if (plan.operation == InstallOperation::Remove)
        PlanRemoval(plan, package, assumedNotInstalled);
    plan.transform = UpToNul(VariableValue(variables, QZ_SETUP_LANG_TRANSFORM));
    if (patches && plan.operation != InstallOperation::Remove)
        plan.patches = patches->value;
    plan.properties = InstallPropertyString(variables, plan.operation, nullptr, plan.patches);
    plan.shownProperties = InstallPropertyString(variables, plan.operation, &plan.hidden, plan.patches);
    return plan;
}
