#include "rsc/file_io.h"

namespace {

constexpr unsigned kScratchAttempts = 100;

// The identity of the file a name reaches: false when it reaches none that
// can be opened. No right to the contents is asked for, so a file that
// another program holds open is still looked at.
bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid() && GetFileInformationByHandle(file.get(), &info);
}

} // namespace

UniqueFileHandle ScratchFile::Create(DWORD& error) {
    for (unsigned n = 1; n <= kScratchAttempts; ++n) {
        const std::wstring path = m_target + L".qz-rsc-new" + (n == 1 ? L"" : L"-" + std::to_wstring(n));
        UniqueFileHandle file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) {
            m_path = path;
            m_created = true;
            return file;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return UniqueFileHandle();
    }
    return UniqueFileHandle();
}

bool ScratchFile::Replace(DWORD& error) {
    if (!MoveFileExW(m_path.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
        return false;
    }
    m_kept = true;
    return true;
}

bool WriteAll(HANDLE file, const void* bytes, DWORD size, DWORD& error) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr)) {
        error = GetLastError();
        return false;
    }
    if (written != size) {
        error = ERROR_WRITE_FAULT;
        return false;
    }
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
        const UniqueFileHandle file = scratch.Create(error);
        if (!file.valid() || !WriteAll(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), error))
            return false;
    }
    return scratch.Replace(error);
}

bool IsSameFile(const std::wstring& first, const std::wstring& second) {
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (!FileIdentity(first, a) || !FileIdentity(second, b))
        return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}
