// Silent pre-install of the runtime redistributable in unattended installations.
#pragma once
#include <windows.h>

#include <string>

#include "install/busy_wait.h"
#include "system/machine_queries.h"

// In the UNATTENDED mode, installs MSVS2010SP1_<processor>.msi from the
// working directory silently, when it is there, into the bootstrap log;
// its result is not examined. A busy installer is waited for with the run's
// `busyWait`, and the redistributable given up when its time runs out.
// Returns 0.
int CoreBootstrapper_PreInstall(InstallerBusyWait& busyWait);

// "MSVS2010SP1_" followed by "x86", "x64", "IA64" or "ARM64" and ".msi": the
// machine's processor, except on an Arm64 machine, where it is the platform
// of the package being installed (`packagePlatform`; anything but Arm64, x64
// and Intel64 gives "x86").
std::wstring RedistributableFileName(const MachineFacts& machine, DWORD packagePlatform);
