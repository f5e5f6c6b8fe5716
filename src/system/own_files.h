// Files and folders the run makes itself (the bootstrap log, the exit file):
// the run never writes into a file that it did not make. Their places are
// often folders that any user may write (the user's TEMP, C:\Windows\Temp),
// where a link or a file of someone else's may stand before the run starts.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "system/win_owners.h"

// What a handle that does not follow reparse points sees at a path.
struct EntryFacts {
    DWORD attributes = 0; // FILE_ATTRIBUTE_*
    DWORD reparseTag = 0; // the reparse tag, when FILE_ATTRIBUTE_REPARSE_POINT is set
    DWORD links = 0;      // how many names the file has
};

// What to do with the name where the run is to make a file of its own.
enum class NameAction {
    Replace, // remove the name (the name itself, never what a link points to) and make the file anew
    Refuse,  // a folder stands there: no file can be made in its place
};

// A folder that is no reparse point cannot make way; anything else does: a
// file however many names it has (a hard link), a symbolic link, a junction
// or a mount point, whatever it points to.
NameAction DecideForFileName(const EntryFacts& facts);

// Whether a folder on the way to a file of the run's own may be used: not a
// reparse point (junction, symbolic link, mount point), which could lead
// anywhere. (A file there is left to the system to refuse, as before.)
bool IsUsableFolder(const EntryFacts& facts);

// The security descriptor of the run's own files and folders: SYSTEM and
// Administrators full control, the user who started the run read, nothing
// inherited from the folder. Built without the heap; the object holds
// everything the descriptor points to, so it stays where it is made.
class OwnSecurity {
public:
    // For a folder, the entries are also inherited by what is made inside.
    explicit OwnSecurity(bool folder = false) noexcept;
    OwnSecurity(const OwnSecurity&) = delete;
    OwnSecurity& operator=(const OwnSecurity&) = delete;

    bool valid() const noexcept { return m_error == 0; }
    // Why it could not be built.
    DWORD error() const noexcept { return m_error; }
    // Null when not valid.
    SECURITY_ATTRIBUTES* attributes() noexcept { return valid() ? &m_attributes : nullptr; }
    PSECURITY_DESCRIPTOR descriptor() noexcept { return &m_descriptor; }

private:
    DWORD Build(bool folder) noexcept;

    alignas(8) BYTE m_system[SECURITY_MAX_SID_SIZE];
    alignas(8) BYTE m_administrators[SECURITY_MAX_SID_SIZE];
    alignas(8) BYTE m_user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    alignas(8) BYTE m_acl[512];
    SECURITY_DESCRIPTOR m_descriptor;
    SECURITY_ATTRIBUTES m_attributes;
    DWORD m_error;
};

// A file's identity: the volume it lies on and its index there, the same
// through every name and every handle of the file.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};
bool operator==(const FileIdentity& a, const FileIdentity& b) noexcept;

// The identity of the file open as `file`; false when the system cannot tell.
bool IdentityOf(HANDLE file, FileIdentity& identity) noexcept;

// Whether what stands at `path` (a link there is looked at, not followed) is
// still the file open as `file`: the check of a file of the run's own that the
// run, or a program it calls, opens again by its name.
bool IsStillTheFile(const wchar_t* path, HANDLE file) noexcept;

// Makes `path` a new file of the run's own and returns the handle, with
// `access` and `share`. What stands at the path is looked at by a handle that
// does not follow reparse points; a file or a link there has its name
// removed, then the file is created with CREATE_NEW (so nothing that another
// put there is ever opened) and OwnSecurity. Made without the heap, for the
// exit file of a run whose memory has run out.
// On failure the handle is not valid and `error` holds the system's error;
// `nameHeld` then says whether it was the name that could not be had: what
// stands there could not be removed (another program holds it) or came back.
UniqueFileHandle CreateOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD& error,
                               bool& nameHeld) noexcept;

// Makes `path` a new file of the run's own only where nothing stands yet
// (CREATE_NEW, OwnSecurity): fails with ERROR_FILE_EXISTS when something does.
UniqueFileHandle CreateFreshOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD& error) noexcept;

// Creates every missing folder of `directory` (ending in a separator) with
// OwnSecurity, and holds each folder of it open, so that none can be renamed
// or replaced (the holders go into `held`) until they are released. False,
// with nothing created beyond that point, when a folder of the path that
// exists is a reparse point. Raises a WinException as CreateDirPath does when
// a folder cannot be looked at or created.
bool CreateOwnFolders(const std::wstring& directory, std::vector<UniqueFileHandle>& held);
