#include "system/restart_signals.h"

#include "system/win_owners.h"

namespace {

// Whether a REG_MULTI_SZ value holds at least one name (it may stand there
// holding only its terminating nulls).
bool HoldsAName(HKEY key, const wchar_t* value) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, value, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS || size < sizeof(wchar_t))
        return false;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = size;
    status = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &read);
    if (status != ERROR_SUCCESS)
        return false;
    const std::size_t count = read / sizeof(wchar_t);
    for (std::size_t i = 0; i < count; ++i)
        if (data[i] != L'\0')
            return true;
    return false;
}

bool IsSet(const RestartSignal& signal) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, signal.key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) !=
        ERROR_SUCCESS)
        return false;
    const UniqueRegistryKey key(opened);
    return signal.value == nullptr || HoldsAName(key.get(), signal.value);
}

} // namespace

const std::vector<RestartSignal>& RestartSignals() {
    static const std::vector<RestartSignal> signals = {
        {L"PendingFileRenameOperations", L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
         L"PendingFileRenameOperations"},
        {L"Component Based Servicing\\RebootPending",
         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending", nullptr},
        {L"WindowsUpdate\\Auto Update\\RebootRequired",
         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired",
         nullptr},
    };
    return signals;
}

std::vector<std::wstring> PendingRestartSignals() {
    std::vector<std::wstring> set;
    for (const RestartSignal& signal : RestartSignals())
        if (IsSet(signal))
            set.emplace_back(signal.name);
    return set;
}
