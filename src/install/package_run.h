// The installation, repair or removal of the package through the installer.
#pragma once
#include <string>

#include "install/busy_wait.h"
#include "msi/package.h"
#include "planning/install_plan.h"

// Carries out `plan` for `package` (the package of the run, held and open
// since its choice): the banner, the installer's log and user interface
// level, then the installation, repair or removal with the plan's property
// string. Returns the installer's result, unchanged. The message handler
// looks error texts up in the package's own database. A busy installer is
// waited for with the run's `busyWait`; when its time runs out the result is
// 1618, as if the installer had said so.
unsigned RunPackage(QZ::MSInstaller::Package& package, const InstallPlan& plan, InstallerBusyWait& busyWait);
