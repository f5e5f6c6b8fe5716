// Attempts to change a file the way another program could: write to it,
// rename it, delete it.
#pragma once
#include <windows.h>

#include <string>

namespace qztest {

// The system's error of each attempt, 0 where it succeeded. A write open that
// succeeds writes nothing; a rename that succeeds is undone; a deletion that
// succeeds cannot be.
struct ChangeAttempts {
    DWORD write = 0;
    DWORD rename = 0;
    DWORD remove = 0;

    // Every attempt refused with a sharing violation.
    bool AllShareRefused() const {
        return write == ERROR_SHARING_VIOLATION && rename == ERROR_SHARING_VIOLATION &&
               remove == ERROR_SHARING_VIOLATION;
    }
};

ChangeAttempts TryToChange(const std::wstring& path);

} // namespace qztest
