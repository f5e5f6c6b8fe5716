// Files the installer is given, held so that they cannot change under it.
#pragma once
#include <windows.h>

#include <string>

#include "system/win_owners.h"

// A file open for reading whose share mode lets others read it but not write,
// rename or delete it (FILE_SHARE_READ alone), for as long as the holder
// lives. Readers that open the file for reading only (the installer among
// them) are not affected.
class HeldFile {
public:
    HeldFile() = default;
    HeldFile(HeldFile&&) noexcept = default;
    HeldFile& operator=(HeldFile&&) noexcept = default;
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Holds `path`. A file that another program has open in a way that
    // excludes the hold (open for writing: a sharing or lock violation)
    // raises a FileHoldFailure with `location` (message 147). Any other
    // failure (no such file, a directory) gives a holder that holds nothing
    // and keeps the system's error: whoever reads the file next fails on it
    // as before, and a file read all the same is refused by Confirm.
    static HeldFile Hold(const std::wstring& path, const wchar_t* location);

    bool held() const noexcept { return m_handle.valid(); }
    const std::wstring& path() const noexcept { return m_path; }
    HANDLE handle() const noexcept { return m_handle.get(); }
    // Why nothing is held (0 when the file is held).
    DWORD error() const noexcept { return m_error; }

    // For a file that has just been read: raises a FileHoldFailure with the
    // error of the hold when the file is not held, since it was there to be
    // read after all, and may have been changed in between.
    void Confirm(const wchar_t* location) const;

private:
    UniqueFileHandle m_handle;
    std::wstring m_path;
    DWORD m_error = 0;
};
