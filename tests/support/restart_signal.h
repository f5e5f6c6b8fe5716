// Restart signals set and cleared in the registry of the test prefix, the way
// Windows sets them when a restart is pending; what was there before comes
// back afterwards.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "system/restart_signals.h"

namespace qztest {

// Sets one signal for its lifetime: the signal's key, or its value with
// `data` (a REG_MULTI_SZ value, its nulls included).
class SetRestartSignal {
public:
    explicit SetRestartSignal(const RestartSignal& signal,
                              const std::wstring& data = std::wstring(L"\\??\\C:\\qz-pending.tmp\0\0", 24));
    ~SetRestartSignal();
    SetRestartSignal(const SetRestartSignal&) = delete;
    SetRestartSignal& operator=(const SetRestartSignal&) = delete;

    bool set() const { return m_set; }

private:
    RestartSignal m_signal;
    bool m_set = false;
};

// Clears all three signals for its lifetime and puts back afterwards what
// stood there.
class NoRestartSignals {
public:
    NoRestartSignals();
    ~NoRestartSignals();
    NoRestartSignals(const NoRestartSignals&) = delete;
    NoRestartSignals& operator=(const NoRestartSignals&) = delete;

    bool cleared() const { return m_cleared; }

private:
    struct Saved {
        RestartSignal signal;
        bool present = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    std::vector<Saved> m_saved;
    bool m_cleared = false;
};

} // namespace qztest
