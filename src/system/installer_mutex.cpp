#include "system/installer_mutex.h"

#include <windows.h>

#include "system/win_owners.h"

namespace {

const wchar_t* const kInstallerMutex = L"Global\\_MSIExecute";

} // namespace

bool IsInstallerBusy() {
    const UniqueKernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kInstallerMutex));
    const DWORD error = mutex.valid() ? ERROR_SUCCESS : GetLastError();
    return error != ERROR_FILE_NOT_FOUND;
}
