#include "support/process_modules.h"

#include <tlhelp32.h>

#include "system/win_owners.h"

namespace qztest {

std::vector<std::wstring> ProcessModules(DWORD processId) {
    std::vector<std::wstring> modules;
    const UniqueFileHandle snapshot(
        CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId));
    if (!snapshot.valid())
        return modules;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot.get(), &entry); more;
         more = Module32NextW(snapshot.get(), &entry))
        modules.push_back(entry.szExePath);
    return modules;
}

} // namespace qztest
