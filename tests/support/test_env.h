// Small helpers shared by the tests: scratch directories, file contents,
// text conversion for assertions, where the built programs are, and a busy
// installer.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "system/win_owners.h"

namespace qztest {

// A file made for a while, deleted when its owner goes.
class ScratchFile {
public:
    explicit ScratchFile(std::wstring path) : m_path(std::move(path)) {}
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() { DeleteFileW(m_path.c_str()); }
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
};

// A fresh directory under %TEMP%, removed with its contents when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Ends in a backslash.
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + name; }

private:
    std::wstring m_path;
};

// Makes `folder` if it is missing and opens it with leave to delete it, as
// another program may: no run can then hold the folder. Invalid on failure.
UniqueFileHandle HeldForDeletion(const std::wstring& folder);

// Removes a directory tree (best effort).
void RemoveTree(const std::wstring& path);

// The directory of the running test program (the build's bin folder), ending in a backslash.
std::wstring BinDir();
// Full path of the built qz-setup.exe.
std::wstring SetupExePath();
// A file of the source tree: from the test kit's source folder beside the
// test programs where there is one, else through the drive Wine maps to the
// Linux root.
std::wstring SourcePath(const std::wstring& relative);

// The folder the TEMP variable names, where a run puts its default log,
// ending in a backslash. Raises when TEMP is not set.
std::wstring TempFolder();

// How many names a file has (0 when it cannot be looked at).
DWORD LinksOf(const std::wstring& path);

// Whole-file access, byte-exact.
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);
void CopyFileOrThrow(const std::wstring& from, const std::wstring& to);

// A UTF-16LE file (such as the bootstrap log) decoded to wide text; a leading
// byte-order mark is kept so tests can check it.
std::wstring ReadUtf16File(const std::wstring& path);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Splits at "\r\n" (the log's line end); the text after the last one is the last element.
std::vector<std::wstring> SplitLines(const std::wstring& text, const std::wstring& separator = L"\r\n");

// The processor of the machine the tests run on, stated without the
// program's own detection: the 64-bit build runs only on a 64-bit Windows;
// the 32-bit build sees x64 under WOW64 and x86 on a 32-bit Windows.
bool MachineIsX64();
// The Template platform of packages for this machine, and of packages for the other one.
std::wstring NativePlatform();
std::wstring ForeignPlatform();

// The system text of an error number, as FormatMessageW gives it.
std::wstring SystemText(DWORD error);

// Holds the mutex that Windows Installer holds while an installation
// executes, so that a run finds the installer busy (Wine's own installer
// does not take it). Released when destroyed, or by release().
class HeldInstallerMutex {
public:
    HeldInstallerMutex();
    bool held() const { return m_mutex.valid(); }
    void release() { m_mutex.reset(); }

private:
    UniqueKernelHandle m_mutex;
};

} // namespace qztest
