// Finding the package for the machine's processor.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "msi/package.h"
#include "settings/variables.h"
#include "system/machine_queries.h"

// One ".msi" that a search by name looked at, and what became of it.
struct PackageCandidate {
    enum class Verdict { Chosen, NameDoesNotMatch, ProcessorDoesNotMatch, NotReadable };
    std::wstring file;
    std::wstring productName; // empty when not read
    bool platformRead = false;
    DWORD platform = 0;
    Verdict verdict = Verdict::NotReadable;
    DWORD error = 0; // why it could not be read
};
using PackageCandidates = std::vector<PackageCandidate>;

// The Template platform of a package's platform value ("Intel", "x64",
// "Intel64", "Arm64"); empty for an unrecognised one.
const wchar_t* TemplatePlatformName(DWORD platform);

// Whether this machine runs a package of `platform`, named by its file: x86
// packages everywhere; x64 on x64, and on an Arm64 machine that emulates x64;
// Itanium and Arm64 packages on their own processor only.
bool CanRunPackagePlatform(DWORD platform, const MachineFacts& machine);

// Settles the package of the run into `package` (held and open, see
// QZ::MSInstaller::Package). Given by its file (QZ_SETUP_PACKAGE_FILE): the
// path is made absolute and the package's product name becomes
// QZ_SETUP_PACKAGE_NAME. Given by name: the name is trimmed, and the first
// "*.msi" of QZ_SETUP_PACKAGE_DIR (absolute, ending in a backslash) in listing
// order whose product name contains the name (case-sensitively) and whose
// platform is the machine's processor becomes QZ_SETUP_PACKAGE_FILE (on an
// Arm64 machine, see FindPackage). False, with message 124 logged, when none
// is found, followed by one line for each package whose name matched on
// another platform (163 when this machine can run it, with /f, else 164). A candidate that cannot be read as
// a package raises (it is not skipped), and so does one that another program has open for writing. `looked`,
// when given, receives every candidate of a search by name, in order.
// `machine`: the facts the search goes by; null for this machine's.
bool LocatePackage(VariableMap& variables, QZ::MSInstaller::Package& package,
                   PackageCandidates* looked = nullptr, const MachineFacts* machine = nullptr);

// The first "*.msi" of `directory` (ending in a backslash), in listing order,
// whose product name contains `name` and whose platform fits the machine.
// On an Arm64 machine that is the first Arm64 package, and only when there is
// none, the first package of the processor the emulation reports (x64 or
// x86); elsewhere the first package of the reported processor. None (a value
// that is not open) when none fits. Each candidate is held and opened once
// while it is read; the one returned stays so, the others are released at once.
// `looked`, when given, receives every candidate looked at, with its verdict;
// the one that could not be read comes last (its exception passes on).
QZ::MSInstaller::Package FindPackage(const std::wstring& directory, const std::wstring& name,
                                     const MachineFacts& machine, PackageCandidates* looked = nullptr);
