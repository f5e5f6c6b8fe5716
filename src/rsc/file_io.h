// Files read and written whole; a file written under another name first
// takes the place of its target only when it is whole.
#pragma once
#include <windows.h>

#include <string>

// A file that is deleted when its owner goes, unless kept.
class ScratchFile {
public:
    // Beside `target`, under another name.
    explicit ScratchFile(const std::wstring& target) : m_target(target), m_path(target + L".qz-rsc-new") {}
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() {
        if (!m_kept)
            DeleteFileW(m_path.c_str());
    }
    const std::wstring& path() const { return m_path; }
    // Puts the scratch file in the target's place. False with the system's error.
    bool Replace(DWORD& error);

private:
    std::wstring m_target;
    std::wstring m_path;
    bool m_kept = false;
};

// False with the system's error when the file cannot be read (or is over 64 MB).
bool ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD& error);
// Writes `bytes` to `path` through a scratch file: on failure `path` is as it was.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes, DWORD& error);
