// The installation, repair or removal of the package through the installer.
#pragma once
#include <string>

// The installer's result, unchanged.
unsigned RunPackage();

// The pass-through variables as installer properties (" NAME="value"" ...).
std::wstring BuildPropertyString();
