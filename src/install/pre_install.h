// Silent pre-install of the runtime redistributable in unattended installations.
#pragma once

// In the UNATTENDED mode, installs MSVS2010SP1_<processor>.msi from the
// working directory silently, when it is there, into the bootstrap log;
// its result is not examined. Returns 0.
int CoreBootstrapper_PreInstall();
