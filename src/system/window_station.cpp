#include "system/window_station.h"

bool IsVisibleStation(bool known, DWORD flags) {
    return !known || (flags & WSF_VISIBLE) != 0;
}

bool IsWindowStationVisible() {
    static const bool visible = [] {
        USEROBJECTFLAGS flags{};
        DWORD needed = 0;
        const HWINSTA station = GetProcessWindowStation();
        const bool known =
            station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) != FALSE;
        return IsVisibleStation(known, flags.dwFlags);
    }();
    return visible;
}
