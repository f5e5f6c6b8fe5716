// Silent pre-install of the runtime redistributable in unattended installations.
#pragma once
#include <windows.h>

#include <string>

#include "install/busy_wait.h"
#include "planning/install_plan.h"
#include "system/held_file.h"

// What the redistributable's installation gave.
struct RedistributableOutcome {
    bool ran = false;            // the installer was called for it
    UINT result = ERROR_SUCCESS; // what it returned
};

// Carries out the run's decision on the redistributable (`plan`, see
// PlanRedistributable): in the UNATTENDED mode, installs
// MSVS2010SP1_<processor>.msi from the program's folder silently, when it is
// there, into the bootstrap log, with restarts suppressed. A result other
// than success or a needed restart is logged as an information line (message
// 150); the package runs all the same. A busy installer is waited for with
// the run's `busyWait`, and the redistributable given up when its time runs
// out. Returns 0; `outcome`, when given, receives what the installation gave.
int CoreBootstrapper_PreInstall(const RedistributablePlan& plan, InstallerBusyWait& busyWait,
                                RedistributableOutcome* outcome = nullptr);

// The silent installation of the redistributable that the plan holds,
// into the bootstrap log, once the installer is free, with
// kRedistributableProperties.
RedistributableOutcome InstallRedistributable(const HeldFile& redistributable, InstallerBusyWait& busyWait);

// The run's installer result: the package's, except that a restart the
// redistributable needs (3010, or 1641, which it was kept from starting)
// turns the package's 0 into 3010.
unsigned ResultWithRedistributable(unsigned packageResult, const RedistributableOutcome& redistributable);
