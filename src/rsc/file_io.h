// Files read and written whole; a file written under another name first
// takes the place of its target only when it is whole.
#pragma once
#include <windows.h>

#include <string>

#include "system/win_owners.h"

// A new file beside a target, under a name of its own, deleted when its
// owner goes unless it took the target's place. Its name is one that no
// file had: it is made with CREATE_NEW, so it is never the target, nor a
// file that is read to make it.
class ScratchFile {
public:
    explicit ScratchFile(const std::wstring& target) : m_target(target) {}
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() {
        if (m_created && !m_kept)
            DeleteFileW(m_path.c_str());
    }
    // Makes the file: "<target>.qz-rsc-new", or when a file of that name is
    // there already, "<target>.qz-rsc-new-2" and so on. The handle may write.
    // An invalid handle, with the system's error, when none can be made.
    UniqueFileHandle Create(DWORD& error);
    const std::wstring& path() const { return m_path; }
    // Puts the scratch file in the target's place. False with the system's error.
    bool Replace(DWORD& error);

private:
    std::wstring m_target;
    std::wstring m_path;
    bool m_created = false;
    bool m_kept = false;
};

// Writes all of `bytes`. False with the system's error; a write that the
// system reports done but that wrote less is ERROR_WRITE_FAULT.
bool WriteAll(HANDLE file, const void* bytes, DWORD size, DWORD& error);

// False with the system's error when the file cannot be read (or is over 64 MB).
bool ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD& error);
// Writes `bytes` to `path` through a scratch file: on failure `path` is as it was.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes, DWORD& error);

// Whether two names reach the same existing file: the same volume serial
// number and file index, by handle, so hard links, short names and "\\?\"
// forms count too. A name that reaches no file is no other file's.
bool IsSameFile(const std::wstring& first, const std::wstring& second);
