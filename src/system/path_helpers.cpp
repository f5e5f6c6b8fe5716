#include "system/path_helpers.h"

#include <windows.h>

#include <cwctype>
#include <memory>

#include "system/errors.h"
#include "system/smart_buffer.h"
#include "system/win_owners.h"

namespace {

constexpr DWORD kPathBufferSize = MAX_PATH; // 260, terminator included

// Opens an existing file or directory for reading; `flags` decides whether directories open too.
UniqueFileHandle OpenForProbe(const wchar_t* path, DWORD flags) {
    return UniqueFileHandle(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
}

// Makes the saved directory current again when it goes out of scope.
class CurrentDirectoryRestorer {
public:
    explicit CurrentDirectoryRestorer(const wchar_t* saved) : m_saved(saved) {}
    ~CurrentDirectoryRestorer() { SetCurrentDirectoryW(m_saved); }
    CurrentDirectoryRestorer(const CurrentDirectoryRestorer&) = delete;
    CurrentDirectoryRestorer& operator=(const CurrentDirectoryRestorer&) = delete;

private:
    const wchar_t* m_saved;
};

struct PathParts {
    std::wstring drive;     // "C:" or empty
    std::wstring directory; // up to and including the last separator
    std::wstring name;      // file name without extension
    std::wstring extension; // from the last dot of the name, dot included
};

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Splits like the runtime's path splitter, without its length limits.
PathParts SplitPath(const std::wstring& path) {
    PathParts parts;
    std::wstring::size_type rest = 0;
    if (path.size() >= 2 && path[1] == L':') {
        parts.drive = path.substr(0, 2);
        rest = 2;
    }
    std::wstring::size_type nameStart = rest;
    for (auto i = rest; i < path.size(); ++i) {
        if (IsSeparator(path[i]))
            nameStart = i + 1;
    }
    parts.directory = path.substr(rest, nameStart - rest);
    const std::wstring fileName = path.substr(nameStart);
    const std::wstring::size_type dot = fileName.rfind(L'.');
    if (dot == std::wstring::npos) {
        parts.name = fileName;
    } else {
        parts.name = fileName.substr(0, dot);
        parts.extension = fileName.substr(dot);
    }
    return parts;
}

// Reads the current directory; a directory that does not fit the buffer counts as a failure.
bool ReadCurrentDirectory(wchar_t (&buffer)[kPathBufferSize], DWORD& error) {
    const DWORD length = GetCurrentDirectoryW(kPathBufferSize, buffer);
    if (length == 0) {
        error = GetLastError();
        return false;
    }
    if (length >= kPathBufferSize) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    return true;
}

// 0: a file that opens for reading; 1: something that opens only as a directory; 2: nothing there.
int _ExistsArchive(const std::wstring& path) {
    const UniqueFileHandle any = OpenForProbe(path.c_str(), FILE_FLAG_BACKUP_SEMANTICS);
    if (!any.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return 2;
        ThrowWinException(error, L" Fnc : `anonymous-namespace'::_ExistsArchive; Line : 23; ");
    }
    const UniqueFileHandle file = OpenForProbe(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (file.valid())
        return 0;
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED)
        return 1;
    ThrowWinException(error, L" Fnc : `anonymous-namespace'::_ExistsArchive; Line : 31; ");
}

bool IsTrimmedSpace(wchar_t c) {
    return std::iswspace(c) || std::iswblank(c);
}
bool IsTrimmedSpaceOrQuote(wchar_t c) {
    return c == L'"' || IsTrimmedSpace(c);
}

template <class Predicate> void TrimWith(std::wstring& text, Predicate remove) {
    std::wstring::size_type first = 0;
    while (first < text.size() && remove(text[first]))
        ++first;
    text.erase(0, first);
    std::wstring::size_type last = text.size();
    while (last > 0 && remove(text[last - 1]))
        --last;
    text.erase(last);
}

} // namespace

void GetModuleDir(std::wstring& dir) {
    wchar_t fileName[kPathBufferSize];
    const DWORD length = GetModuleFileNameW(nullptr, fileName, kPathBufferSize);
    // A name that fills the whole buffer was cut short (and may lack its terminator).
    if (length == 0 || length >= kPathBufferSize)
        ThrowWinException(length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
                          L" Fnc : GetModuleDir; Line : 12; ");
    const PathParts parts = SplitPath(std::wstring(fileName, length));
    dir = parts.drive + parts.directory;
}

bool FileExists(const std::wstring& path) {
    return _ExistsArchive(path) == 0;
}

void _Rel2AbsPath(std::wstring& result, const std::wstring& path) {
    const PathParts parts = SplitPath(path);
    std::wstring base = parts.drive + parts.directory;
    if (base.empty())
        base = L".\\";

    wchar_t saved[kPathBufferSize];
    DWORD error = 0;
    if (!ReadCurrentDirectory(saved, error))
        ThrowWinException(error, L" Fnc : _Rel2AbsPath; Line : 44; ");
    const CurrentDirectoryRestorer restorer(saved);

    if (!SetCurrentDirectoryW(base.c_str()))
        ThrowWinException(GetLastError(), L" Fnc : _Rel2AbsPath; Line : 49; ");

    wchar_t absolute[kPathBufferSize];
    if (!ReadCurrentDirectory(absolute, error))
        ThrowWinException(error, L" Fnc : _Rel2AbsPath; Line : 53; ");

    std::wstring resolved = absolute;
    // A drive root already ends in its separator ("C:\").
    if (resolved.empty() || resolved.back() != L'\\')
        resolved += L'\\';
    resolved += parts.name;
    resolved += parts.extension;
    result = resolved;
}

void Rel2AbsFilePath(std::wstring& path) {
    TrimSpacesAndQuotes(path);
    std::wstring absolute;
    _Rel2AbsPath(absolute, path);
    path = absolute;
}

void Rel2AbsDirPath(std::wstring& path) {
    TrimSpacesAndQuotes(path);
    if (path.empty())
        path = L".\\";
    else if (path.back() != L'\\')
        path += L'\\';
    std::wstring absolute;
    _Rel2AbsPath(absolute, path);
    path = absolute;
}

void TrimSpacesAndQuotes(std::wstring& text) {
    TrimWith(text, IsTrimmedSpaceOrQuote);
}

void TrimSpaces(std::wstring& text) {
    TrimWith(text, IsTrimmedSpace);
}

void TrimLineEnds(std::wstring& text) {
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
}

void CreateDirPath(const std::wstring& path) {
    const std::size_t length = path.size();
    smart_buffer<wchar_t, kPathBufferSize> work(length + 1);
    wchar_t* const text = work.data();
    path.copy(text, length);
    text[length] = L'\0';

    WalkPathFolders(text, 0, length, [](const wchar_t* prefix, std::size_t prefixLength) {
        // A bare drive needs no step.
        if (prefix[prefixLength - 1] == L':')
            return true;
        const UniqueFileHandle probe = OpenForProbe(prefix, FILE_FLAG_BACKUP_SEMANTICS);
        if (!probe.valid()) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND)
                ThrowWinException(error, L" Fnc : CreateDirPath; Line : 52; ");
            if (!CreateDirectoryW(prefix, nullptr))
                ThrowWinException(GetLastError(), L" Fnc : CreateDirPath; Line : 49; ");
        }
        return true;
    });
}

TmpFile& TmpFile::operator=(TmpFile&& other) noexcept {
    if (this != &other) {
        reset();
        m_name = other.m_name;
        other.m_name = nullptr;
    }
    return *this;
}

TmpFile::~TmpFile() {
    reset();
}

void TmpFile::reset() noexcept {
    if (m_name) {
        DeleteFileW(m_name);
        delete[] m_name;
        m_name = nullptr;
    }
}

TmpFile CreateTmpFile() {
    wchar_t directory[kPathBufferSize];
    const DWORD length = GetTempPathW(kPathBufferSize, directory);
    if (length == 0 || length >= kPathBufferSize)
        ThrowWinException(length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
                          L" Fnc : CreateTmpFile; Line : 12; ");

    std::unique_ptr<wchar_t[]> name(new wchar_t[kPathBufferSize]);
    if (GetTempFileNameW(directory, L"", 0, name.get()) == 0)
        ThrowWinException(GetLastError(), L" Fnc : CreateTmpFile; Line : 16; ");
    return TmpFile(name.release());
}
