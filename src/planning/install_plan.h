// The decisions of a run up to the installer call, made once: a real run
// carries them out (install/), a plan run writes them down.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "msi/package.h"
#include "msi/product_registration.h"
#include "planning/hidden_values.h"
#include "planning/patch_plan.h"
#include "settings/variables.h"
#include "system/held_file.h"
#include "system/machine_queries.h"

enum class InstallOperation { Install, Repair, Remove };

// What the plan tells of the chosen package.
struct PlannedPackage {
    std::wstring file; // absolute
    std::wstring productName;
    std::wstring productCode;
    std::wstring productVersion;
    std::wstring productLanguage;
    DWORD platform = 0;
    std::wstring hiddenProperties; // MsiHiddenProperties, empty when the package has none
};

// The runtime redistributable of an unattended installation.
struct RedistributablePlan {
    enum class Basis {
        NotUnattended, // only the UNATTENDED mode installs it
        Missing,       // not beside the program
        Present,       // installed silently before the package
    };
    Basis basis = Basis::NotUnattended;
    std::wstring file; // absolute, "MSVS2010SP1_<processor>.msi" in the program's folder
    bool present = false;
    bool wouldRun = false;
    // The property string it is installed with (kRedistributableProperties),
    // when it would run.
    std::wstring properties;
    // The file that would run, held from its choice until it is installed.
    HeldFile held;
    // When it is missing: message 120 (or 121 on systems up to version 5),
    // which a verbose log notes as an information line with the code 0.
    std::wstring missingNote;
    bool noteLogged = false;
};

// The redistributable's property string, whatever the settings say of the
// package's restart: it never restarts the machine itself, since a restart
// between it and the package would lose the package's installation and the
// run's report. A restart it needs becomes the run's result instead.
extern const wchar_t kRedistributableProperties[];

// A restart that Windows already has pending, looked at once before the
// first installer call.
struct PendingRestart {
    std::vector<std::wstring> signals; // the names of the signals set (PendingRestartSignals)
    std::wstring note;                 // message 151 naming them; empty when none is set
};

PendingRestart PlanPendingRestart();

// Everything the run decided for the package's installer call.
struct InstallPlan {
    PlannedPackage package;
    HiddenValues hidden;
    SetupMode mode = INSTALL;
    InstallOperation operation = InstallOperation::Install;
    bool productRegistered = false; // asked in every mode; a removal does not raise for it
    bool silent = false;            // INSTALLUILEVEL_NONE; INSTALLUILEVEL_FULL otherwise
    std::wstring transform;         // the TRANSFORMS value; empty: none
    std::wstring patches;           // the PATCH value; empty: none
    std::wstring properties;        // the property string, exactly as the installer gets it
    std::wstring shownProperties;   // the same with the hidden values masked
    std::wstring logFile;
    DWORD logMode = 0;
    std::wstring banner; // message 135, logged before the installer's own log
    // A removal: whether the product is installed, as the installer answers
    // (false when it answers with an error), and when it is not, the
    // installed products of the package's upgrade code (other versions).
    bool removalChecked = false;
    std::wstring upgradeCode;
    std::vector<QZ::MSInstaller::RelatedProduct> otherVersions;
    // Message 165, 166 or 167 (naming the first other version), logged after
    // the banner; empty when the installer could not say.
    std::wstring removalNote;
};

// The decisions of the run, in the order it meets them: the redistributable
// (PlanRedistributable, which the pre-install carries out), then the
// package's installer call (PlanPackageRun, which the package run carries
// out). Each changes nothing on the machine; a plan run makes both and writes
// them down.
//
// PlanPackageRun, for `package` (the package of the run) from the final
// settings (the values expanded): the operation (in the installation modes
// the product's registration decides between a first installation and a
// repair; a query that fails raises a WinException with the package run's
// location), the user interface level, the property string and the log. A
// removal asks whether the product is installed without raising, and names
// another installed version of it.
// Raises as the package's reads do.
// The patches that apply (`patches`, when QZ_SETUP_PATCHES is set) go into
// an installation or a repair as one PATCH piece after all the others.
// With `assumedNotInstalled` (a plan for another machine) the product is
// taken as not installed, and the installer is not asked about it.
InstallPlan PlanPackageRun(const VariableMap& variables, QZ::MSInstaller::Package& package,
                           const PatchPlan* patches = nullptr, bool assumedNotInstalled = false);

// Removal in the two uninstall modes; otherwise a repair of a registered
// product, or a first installation.
InstallOperation OperationFor(SetupMode mode, bool productRegistered);

// The property string of the installation call: the pass-through settings
// (" NAME="value"", in name order), then the removal piece or the repair
// pieces, then the reboot piece (QZ_SUPPRESS_REBOOT true) and the transform
// piece (QZ_SETUP_LANG_TRANSFORM set, its value as it is), and last the
// patch piece (`patches` not empty, outside a removal). Values masked where
// `hidden` says so.
std::wstring InstallPropertyString(const VariableMap& variables, InstallOperation operation,
                                   const HiddenValues* hidden = nullptr,
                                   const std::wstring& patches = std::wstring());

// The pass-through settings alone, as above.
std::wstring PassThroughProperties(const VariableMap& variables, const HiddenValues* hidden = nullptr);

// The redistributable of the settings' run: in the UNATTENDED mode the file
// beside the program (resolved against the current directory), held from
// here on when it is there (a file that another program has open for
// writing raises a FileHoldFailure); when it is not, the note a verbose log
// gets. `packagePlatform` matters on an Arm64 machine only.
RedistributablePlan PlanRedistributable(const VariableMap& variables, DWORD packagePlatform,
                                        const MachineFacts& machine);

// Message 120 (or 121 on systems up to version 5) for a redistributable that
// is not there. Raises a WinException when the system's version cannot be read.
std::wstring RedistributableMissingNote(const std::wstring& file);

// "MSVS2010SP1_" followed by "x86", "x64", "IA64" or "ARM64" and ".msi": the
// machine's processor, except on an Arm64 machine, where it is the platform
// of the package being installed (`packagePlatform`; anything but Arm64, x64
// and Intel64 gives "x86").
std::wstring RedistributableFileName(const MachineFacts& machine, DWORD packagePlatform);

// "install", "repair", "remove".
const char* OperationName(InstallOperation operation);

// The installer's log mode: errors, warnings and the essentials (0xD7); with
// tracing the progress of the actions as well (0xBDF); verbose adds the
// property dump and debug output (0x3400).
DWORD InstallerLogMode(bool trace, bool verbose);

// A log mode as msiexec's /l option writes it ("iwemo" for 0xD7), in the
// order msiexec documents; the bits msiexec has no letter for (resolving the
// source, files in use) are left out.
std::wstring LogModeLetters(DWORD mode);

// The msiexec command line that makes the same installer call by hand:
// the package, the property string as it is, the user interface level
// (/qn silent, /qf full) and the log, appended to (/l<letters>+).
std::wstring MsiexecCommandLine(const std::wstring& package, const std::wstring& properties, bool silent,
                                DWORD logMode, const std::wstring& logFile);
