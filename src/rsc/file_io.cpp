#include "rsc/file_io.h"

#include "system/win_owners.h"

bool ScratchFile::Replace(DWORD& error) {
    if (!MoveFileExW(m_path.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
        return false;
    }
    m_kept = true;
    return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD& error) {
    constexpr LONGLONG kLargest = 64 * 1024 * 1024;
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) {
        error = GetLastError();
        return false;
    }
    if (size.QuadPart > kLargest) {
        error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        error = read != bytes.size() && GetLastError() == ERROR_SUCCESS ? ERROR_READ_FAULT : GetLastError();
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, DWORD& error) {
    ScratchFile scratch(path);
    {
        const UniqueFileHandle file(CreateFileW(scratch.path().c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.valid() ||
            !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size()) {
            error = GetLastError();
            return false;
        }
    }
    return scratch.Replace(error);
}
