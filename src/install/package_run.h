// The installation, repair or removal of the package through the installer.
#pragma once
#include <string>

#include "install/busy_wait.h"

// The installer's result, unchanged. A busy installer is waited for with the
// run's `busyWait`; when its time runs out the result is 1618, as if the
// installer had said so.
unsigned RunPackage(InstallerBusyWait& busyWait);

// The pass-through variables as installer properties (" NAME="value"" ...).
std::wstring BuildPropertyString();

// The whole property string of the installation call: the pass-through
// variables, then the removal piece (uninstall modes) or, for a product that
// is already registered, the repair pieces, then the reboot and transform pieces.
std::wstring BuildInstallProperties(bool productRegistered);
