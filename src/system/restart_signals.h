// The signals Windows keeps of a restart that is already pending: an
// installation now may find files replaced only at the next start.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// One signal: where it lies under HKEY_LOCAL_MACHINE, and how it is set.
struct RestartSignal {
    const wchar_t* name;  // as the log names it
    const wchar_t* key;   // under HKEY_LOCAL_MACHINE
    const wchar_t* value; // null: the key's being there is the signal
};

// The three signals, in the order they are named: files that wait to be
// replaced or removed at the next start (the PendingFileRenameOperations
// value under Session Manager, when it holds any name), servicing that waits
// for a restart (the key Component Based Servicing\RebootPending), and
// updates that need one (the key WindowsUpdate\Auto Update\RebootRequired).
const std::vector<RestartSignal>& RestartSignals();

// The names of the signals that are set, in that order. Read from the
// 64-bit registry view, where the system keeps them, also by the 32-bit
// program; a signal that cannot be read counts as not set.
std::vector<std::wstring> PendingRestartSignals();
