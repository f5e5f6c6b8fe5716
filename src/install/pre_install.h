// Silent pre-install of the runtime redistributable in unattended installations.
#pragma once
#include <windows.h>

#include <string>

#include "install/busy_wait.h"
#include "planning/install_plan.h"
#include "system/held_file.h"

// Carries out the run's decision on the redistributable (`plan`, see
// PlanRedistributable): in the UNATTENDED mode, installs
// MSVS2010SP1_<processor>.msi from the program's folder silently, when it is
// there, into the bootstrap log; its result is not examined. A busy installer
// is waited for with the run's `busyWait`, and the redistributable given up
// when its time runs out. Returns 0.
int CoreBootstrapper_PreInstall(const RedistributablePlan& plan, InstallerBusyWait& busyWait);

// The silent installation of the redistributable that the plan holds,
// into the bootstrap log, once the installer is free.
void InstallRedistributable(const HeldFile& redistributable, InstallerBusyWait& busyWait);
