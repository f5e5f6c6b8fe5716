// Silent pre-install of the runtime redistributable in unattended installations.
#pragma once
#include <windows.h>

#include <string>

#include "install/busy_wait.h"
#include "msi/package.h"
#include "system/held_file.h"
#include "system/machine_queries.h"

// In the UNATTENDED mode, installs MSVS2010SP1_<processor>.msi from the
// working directory silently, when it is there, into the bootstrap log;
// its result is not examined. `package` is the package installed next. A
// busy installer is waited for with the run's `busyWait`, and the
// redistributable given up when its time runs out. Returns 0.
int CoreBootstrapper_PreInstall(QZ::MSInstaller::Package& package, InstallerBusyWait& busyWait);

// The two halves of the pre-install. The choice: in the UNATTENDED mode, the
// redistributable beside the program, held from here on (a file that another
// program has open for writing raises a FileHoldFailure); nothing held in
// other modes, or when it is missing (noted as the pre-install notes it).
HeldFile ChooseRedistributable(QZ::MSInstaller::Package& package);
// Its silent installation into the bootstrap log, once the installer is free.
void InstallRedistributable(const HeldFile& redistributable, InstallerBusyWait& busyWait);

// "MSVS2010SP1_" followed by "x86", "x64", "IA64" or "ARM64" and ".msi": the
// machine's processor, except on an Arm64 machine, where it is the platform
// of the package being installed (`packagePlatform`; anything but Arm64, x64
// and Intel64 gives "x86").
std::wstring RedistributableFileName(const MachineFacts& machine, DWORD packagePlatform);
