// Whether anyone can see this process's windows: a service's window station,
// SYSTEM's or another session's non-interactive one shows nothing, so a dialog
// there waits forever.
#pragma once
#include <windows.h>

// Whether the user object flags of a window station say it is visible
// (WSF_VISIBLE). `known` false (the flags could not be read) counts as
// visible: a run shows what it always showed.
bool IsVisibleStation(bool known, DWORD flags);

// The process's window station, asked once (GetProcessWindowStation and its
// UOI_FLAGS). The handle is the system's and is not closed.
bool IsWindowStationVisible();
