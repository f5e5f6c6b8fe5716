// The installation, repair or removal of the package through the installer.
#pragma once
#include <string>

// The installer's result, unchanged.
unsigned RunPackage();

// The pass-through variables as installer properties (" NAME="value"" ...).
std::wstring BuildPropertyString();

// The whole property string of the installation call: the pass-through
// variables, then the removal piece (uninstall modes) or, for a product that
// is already registered, the repair pieces, then the reboot and transform pieces.
std::wstring BuildInstallProperties(bool productRegistered);
