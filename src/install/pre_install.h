// Silent pre-install of the runtime redistributable in unattended installations.
#pragma once

int CoreBootstrapper_PreInstall();
