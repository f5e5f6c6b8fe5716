#include "support/restart_signal.h"

#include <utility>

#include "system/win_owners.h"

namespace qztest {

namespace {

constexpr REGSAM kView = KEY_WOW64_64KEY;

UniqueRegistryKey CreateKey(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE | kView,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return UniqueRegistryKey();
    return UniqueRegistryKey(key);
}

UniqueRegistryKey OpenKey(const wchar_t* path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access | kView, &key) != ERROR_SUCCESS)
        return UniqueRegistryKey();
    return UniqueRegistryKey(key);
}

// Removes the signal; true when it is gone (or was never there).
bool Clear(const RestartSignal& signal) {
    if (signal.value) {
        const UniqueRegistryKey key = OpenKey(signal.key, KEY_SET_VALUE);
        if (!key.valid())
            return true;
        const LSTATUS status = RegDeleteValueW(key.get(), signal.value);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    const LSTATUS status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, signal.key, kView, 0);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

} // namespace

SetRestartSignal::SetRestartSignal(const RestartSignal& signal, const std::wstring& data) : m_signal(signal) {
    const UniqueRegistryKey key = CreateKey(signal.key);
    if (!key.valid())
        return;
    m_set =
        !signal.value ||
        RegSetValueExW(key.get(), signal.value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

SetRestartSignal::~SetRestartSignal() {
    Clear(m_signal);
}

NoRestartSignals::NoRestartSignals() {
    m_cleared = true;
    for (const RestartSignal& signal : RestartSignals()) {
        Saved saved;
        saved.signal = signal;
        const UniqueRegistryKey key = OpenKey(signal.key, KEY_QUERY_VALUE);
        if (key.valid() && signal.value) {
            DWORD size = 0;
            if (RegQueryValueExW(key.get(), signal.value, nullptr, &saved.type, nullptr, &size) ==
                ERROR_SUCCESS) {
                saved.data.resize(size);
                saved.present = RegQueryValueExW(key.get(), signal.value, nullptr, &saved.type,
                                                 saved.data.empty() ? nullptr : saved.data.data(),
                                                 &size) == ERROR_SUCCESS;
                saved.data.resize(size);
            }
        } else {
            saved.present = key.valid();
        }
        m_cleared = Clear(signal) && m_cleared;
        m_saved.push_back(std::move(saved));
    }
}

NoRestartSignals::~NoRestartSignals() {
    for (const Saved& saved : m_saved) {
        if (!saved.present)
            continue;
        const UniqueRegistryKey key = CreateKey(saved.signal.key);
        if (key.valid() && saved.signal.value)
            RegSetValueExW(key.get(), saved.signal.value, 0, saved.type,
                           saved.data.empty() ? nullptr : saved.data.data(),
                           static_cast<DWORD>(saved.data.size()));
    }
}

} // namespace qztest
