// Shared by the benchmark floors: an owner of installer handles, directory
// listing in the system's order, a stopwatch and the warm-up open.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace qzbench {

class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    MSIHANDLE get() const { return m_handle; }
    MSIHANDLE* put() {
        reset();
        return &m_handle;
    }
    void reset() {
        if (m_handle)
            MsiCloseHandle(m_handle);
        m_handle = 0;
    }

private:
    MSIHANDLE m_handle = 0;
};

// The bare names of the files (not directories) matching `pattern`, in the
// order the system lists them.
inline std::vector<std::wstring> ListFiles(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.emplace_back(entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

// A directory path with a trailing backslash.
inline std::wstring WithBackslash(std::wstring directory) {
    if (!directory.empty() && directory.back() != L'\\' && directory.back() != L'/')
        directory += L'\\';
    return directory;
}

// Field `field` of a record as text.
inline std::wstring RecordText(MSIHANDLE record, UINT field) {
    DWORD size = 0;
    wchar_t empty[1] = {L'\0'};
    if (MsiRecordGetStringW(record, field, empty, &size) != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring text(size + 1, L'\0');
    size += 1;
    if (MsiRecordGetStringW(record, field, &text[0], &size) != ERROR_SUCCESS)
        return std::wstring();
    text.resize(size);
    return text;
}

// Opens a package and reads one property, so that the installer's code for
// databases is loaded and warm before anything is timed.
inline bool WarmUp(const std::wstring& package) {
    Handle database, view, record;
    return MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.put()) == ERROR_SUCCESS &&
           MsiDatabaseOpenViewW(database.get(),
                                L"SELECT `Value` FROM `Property` WHERE `Property`='ProductName'",
                                view.put()) == ERROR_SUCCESS &&
           MsiViewExecute(view.get(), 0) == ERROR_SUCCESS &&
           MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS;
}

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&m_start); }
    double Milliseconds() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1000.0 /
               static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_start;
};

} // namespace qzbench
