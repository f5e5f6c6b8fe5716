// Finding the package for the machine's processor.
#pragma once
#include <windows.h>

#include <string>

#include "settings/variables.h"
#include "system/machine_queries.h"

// Settles the package of the run. Given by its file (QZ_SETUP_PACKAGE_FILE):
// the path is made absolute and the package's product name becomes
// QZ_SETUP_PACKAGE_NAME. Given by name: the name is trimmed, and the first
// "*.msi" of QZ_SETUP_PACKAGE_DIR (absolute, ending in a backslash) in listing
// order whose product name contains the name (case-sensitively) and whose
// platform is the machine's processor becomes QZ_SETUP_PACKAGE_FILE (on an
// Arm64 machine, see FindPackage). False, with message 124 logged, when none
// is found. A candidate that cannot be read as a package raises (it is not
// skipped).
bool LocatePackage(VariableMap& variables);

// The first "*.msi" of `directory` (ending in a backslash), in listing order,
// whose product name contains `name` and whose platform fits the machine.
// On an Arm64 machine that is the first Arm64 package, and only when there is
// none, the first package of the processor the emulation reports (x64 or
// x86); elsewhere the first package of the reported processor. Empty when
// none fits. Each candidate is opened once.
std::wstring FindPackage(const std::wstring& directory, const std::wstring& name,
                         const MachineFacts& machine);
