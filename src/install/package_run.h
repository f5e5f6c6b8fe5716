// The installation, repair or removal of the package through the installer.
#pragma once
#include <string>

#include "install/busy_wait.h"
#include "msi/package.h"

// Installs, repairs or removes `package` (the package of the run, held and
// open since its choice); returns the installer's result, unchanged. The
// message handler looks error texts up in the package's own database. A busy
// installer is waited for with the run's `busyWait`; when its time runs out
// the result is 1618, as if the installer had said so.
unsigned RunPackage(QZ::MSInstaller::Package& package, InstallerBusyWait& busyWait);

// The decision before the installation call: the whole property string for
// `package` in the run's mode. In the installation modes the product's
// registration decides between a first installation and a repair (a failing
// query raises a WinException with the package run's location).
std::wstring DecideInstallProperties(QZ::MSInstaller::Package& package);

// The pass-through variables as installer properties (" NAME="value"" ...).
std::wstring BuildPropertyString();

// The whole property string of the installation call: the pass-through
// variables, then the removal piece (uninstall modes) or, for a product that
// is already registered, the repair pieces, then the reboot and transform pieces.
std::wstring BuildInstallProperties(bool productRegistered);
