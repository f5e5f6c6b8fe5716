#include "install/pre_install.h"

// Provisional: the redistributable pre-install does nothing yet.
int CoreBootstrapper_PreInstall() {
    return 0;
}
