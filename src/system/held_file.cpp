#include "system/held_file.h"

#include <vector>

#include "system/errors.h"

namespace {

// The full name of `path` for the message that names it; the path itself
// when the system cannot make one.
std::wstring FullName(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0)
            return path;
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length);
    }
}

} // namespace

HeldFile HeldFile::Hold(const std::wstring& path, const wchar_t* location) {
    HeldFile file;
    file.m_path = path;
    file.m_handle.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.m_handle.valid()) {
        file.m_error = GetLastError();
        if (IsSharingError(file.m_error))
            ThrowFileHoldFailure(FullName(path), file.m_error, location);
    }
    return file;
}

void HeldFile::Confirm(const wchar_t* location) const {
    if (!held())
        ThrowFileHoldFailure(FullName(m_path),
                             m_error != 0 ? m_error : static_cast<DWORD>(ERROR_INVALID_HANDLE), location);
}
