#include "install/package_run.h"

#include <windows.h>

// Provisional until the package run is in place: nothing is installed and the
// run reports that the function is not available.
unsigned RunPackage() { return ERROR_CALL_NOT_IMPLEMENTED; }

std::wstring BuildPropertyString() { return std::wstring(); }
