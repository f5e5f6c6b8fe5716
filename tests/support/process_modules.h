// The modules another process has loaded, by full path.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qztest {

// Full paths of the modules process `processId` has loaded (empty when it
// cannot be looked into).
std::vector<std::wstring> ProcessModules(DWORD processId);

} // namespace qztest
