// Path and file helpers over wide paths. Failures of the file system raise a
// WinException with the location of the failing step.
#pragma once
#include <cstddef>
#include <string>

// The executable's directory, ending in a separator.
void GetModuleDir(std::wstring& dir);
inline std::wstring GetModuleDir() {
    std::wstring dir;
    GetModuleDir(dir);
    return dir;
}

// True for an existing file that can be opened for reading (a directory: false).
bool FileExists(const std::wstring& path);

// Absolute form of `path` against the current directory, which is unchanged afterwards.
void _Rel2AbsPath(std::wstring& result, const std::wstring& path);
// Trims blanks and double quotes, then makes the path absolute.
void Rel2AbsFilePath(std::wstring& path);
// The same for a directory; the result always ends in a backslash.
void Rel2AbsDirPath(std::wstring& path);

void TrimSpacesAndQuotes(std::wstring& text);
void TrimSpaces(std::wstring& text);
// Takes the carriage returns and line feeds off the end of `text` (a system
// text, say, before it goes into a line of its own).
void TrimLineEnds(std::wstring& text);

// Creates every missing directory along `path`.
void CreateDirPath(const std::wstring& path);

// Whether `c` separates the names of a path.
inline bool IsPathSeparator(wchar_t c) noexcept {
    return c == L'\\' || c == L'/';
}

// The walk along the folders of a path: for each name in `text` between
// `from` and `limit` (names end at a separator; runs of separators count as
// one), `step(prefix, length)` is called with `text` cut just after that
// name, and made whole again after the call. Stops at the first step that
// returns false; true when every name up to `limit` was walked. A step that
// raises leaves `text` cut where it was.
template <class Step> bool WalkPathFolders(wchar_t* text, std::size_t from, std::size_t limit, Step&& step) {
    std::size_t at = from;
    for (;;) {
        while (at < limit && IsPathSeparator(text[at]))
            ++at;
        std::size_t end = at;
        while (end < limit && !IsPathSeparator(text[end]))
            ++end;
        if (end == at)
            return true;
        const wchar_t kept = text[end];
        text[end] = L'\0';
        const bool go = step(static_cast<const wchar_t*>(text), end);
        text[end] = kept;
        if (!go)
            return false;
        at = end;
    }
}

// Owner of one temporary file: deletes it when destroyed.
class TmpFile {
public:
    TmpFile() = default;
    explicit TmpFile(wchar_t* ownedName) : m_name(ownedName) {}
    TmpFile(TmpFile&& other) noexcept : m_name(other.m_name) { other.m_name = nullptr; }
    TmpFile& operator=(TmpFile&& other) noexcept;
    TmpFile(const TmpFile&) = delete;
    TmpFile& operator=(const TmpFile&) = delete;
    ~TmpFile();

    // Full name of the file, or null.
    const wchar_t* name() const { return m_name; }
    explicit operator bool() const { return m_name != nullptr; }

private:
    void reset() noexcept;
    wchar_t* m_name = nullptr; // 260 characters, allocated with new[]
};

// An empty file with a unique name in the user's temporary directory.
TmpFile CreateTmpFile();
