// Completes the plan: everything the run needs that the user did not give.
#pragma once
#include <string>

#include "language/language_choice.h"
#include "msi/package.h"
#include "planning/package_location.h"
#include "planning/validation.h"
#include "settings/variables.h"

// What a plan learns from the derivation besides the settings it makes.
struct DerivationNotes {
    // In: ask nobody. The language dialog is not shown; its offer is written
    // into `language`, and the item that starts selected is taken.
    bool planOnly = false;
    // In: nobody can see a dialog. The language dialog is not shown and the
    // item that starts selected is taken, as in a plan.
    bool askNobody = false;
    // In: the facts the package, the help file and the language are chosen
    // by (those of another machine in a plan for it); null: this machine's.
    const RunFacts* facts = nullptr;
    // Out: the packages a search by name looked at.
    PackageCandidates candidates;
    // Out: the language decision, when the derivation got that far.
    bool languageDecided = false;
    LanguageOffer language;
    // Out: the message that explained a refusal.
    RefusalMessage refusal;
};

// Derives, in this order: the package directory, the package (by file or by
// name), then for help only the help file; otherwise the response file path,
// the log file, the mode, the transform directory, the language transform and
// the reboot flag. False, with its error lines logged, when no package is
// found (124, 130), no default log directory exists (a system error line,
// 132) or no language transform can be settled (136); `refusal`, when given,
// says whether it was the package that was not found. Runs before the log
// file opens, with the executable's directory current.
//
// `package` receives the package of the run, held and open, with the
// transforms it is to be installed with (the chosen one, or those given in
// QZ_SETUP_LANG_TRANSFORM) held too: whoever owns it keeps them unchanged
// until the installer has returned.
bool DeriveSettings(VariableMap& variables, QZ::MSInstaller::Package& package, PlanRefusal* refusal = nullptr,
                    DerivationNotes* notes = nullptr);

// The default log file: "<directory>\<package name>_install.log", the
// directory being TEMP, else SystemRoot's Temp, else SystemDrive's Temp.
// False, with the system's error line logged, when none of them is set.
// The package name goes in as LogFileNamePart makes it, so that the log stays
// in that directory whatever the product is called.
bool DeriveDefaultLogFile(const std::wstring& packageName, std::wstring& logFile);

// The package name as the default log's name holds it: each character that a
// file name cannot hold (a control character, < > : " / \ | ? *) and each
// dot or blank at its end becomes "_".
std::wstring LogFileNamePart(const std::wstring& packageName);
