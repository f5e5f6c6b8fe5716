// Files and folders the run makes itself (the bootstrap log, the exit file, the plan):
// the run never writes into a file that it did not make. Their places are
// often folders that any user may write (the user's TEMP, C:\Windows\Temp),
// where a link or a file of someone else's may stand before the run starts.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

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

// Why a folder on the way to a file of the run's own is not used: it is a
// reparse point (junction, symbolic link, mount point), which could lead
// anywhere. The system's own code for it.
constexpr DWORD kReparsePointOnPath = 4395; // ERROR_REPARSE_POINT_ENCOUNTERED

// Whether HoldFolders refused a folder that is there (a reparse point, or one
// that another program has open so that it cannot be held), as opposed to the
// system failing to reach or make it.
bool IsFolderRefusal(DWORD error) noexcept;

// What HoldFolders does with a folder of the path that is not there.
enum class MissingFolders {
    Create, // made with OwnSecurity, then held like the others
    Leave,  // left missing; the look stops there (the file cannot be made either)
};

// The folders on the way to a file of the run's own, each held open so that
// none can be renamed, removed or replaced until they are released. Held
// without the heap, for the exit file of a run whose memory has run out.
class HeldFolders {
public:
    // More folders than that on one path are refused.
    static constexpr std::size_t kCapacity = 128;

    HeldFolders() noexcept = default;
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;

    // How many folders are held.
    std::size_t count() const noexcept { return m_count; }
    // Every folder of the path is there (false: the look stopped at a missing one).
    bool complete() const noexcept { return m_complete; }
    void release() noexcept;

private:
    friend DWORD HoldFolders(const wchar_t* file, MissingFolders missing, HeldFolders& held) noexcept;
    bool Add(UniqueFileHandle folder) noexcept;

    UniqueFileHandle m_folders[kCapacity];
    std::size_t m_count = 0;
    bool m_complete = false;
};

// Looks at every folder on the way to `file` (made a full path first, so a
// relative name counts the current directory's folders too) by a handle that
// does not follow reparse points, and holds each: opened to be listed, with
// no leave for others to delete or rename it. The root of a drive or of a
// share (\\server\share) is not held. Returns 0, or why not:
// - kReparsePointOnPath: a folder is a reparse point;
// - a sharing violation: another program has a folder open in a way that stops
//   the hold (open for deletion); the folder is not used unheld;
// - ERROR_PATH_NOT_FOUND: a file stands where a folder should;
// - the system's error where a folder cannot be looked at or made.
// A folder that the run may pass through but not list (access denied) is
// looked at and used without being held.
DWORD HoldFolders(const wchar_t* file, MissingFolders missing, HeldFolders& held) noexcept;

// Makes `path` a new file of the run's own and returns the handle, with
// `access` and `share`. What stands at the path is looked at by a handle that
// does not follow reparse points; a file or a link there has its name
// removed (whatever its attributes: a read-only file's attribute is ignored
// where the system can, else cleared for the removal and given back when the
// file keeps other names), then the file is created with CREATE_NEW (so
// nothing that another put there is ever opened) and OwnSecurity. Made
// without the heap, for the exit file of a run whose memory has run out.
// The folders of the path are the caller's to hold (HoldFolders).
// On failure the handle is not valid and `error` holds the system's error;
// `nameHeld` then says whether it was the name that could not be had: what
// stands there could not be removed (another program holds it, or it is a
// folder) or came back.
UniqueFileHandle CreateOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD& error,
                               bool& nameHeld) noexcept;

// HoldFolders, then CreateOwnFile while the folders are held: the one way the
// exit file and the plan are made. `error` is HoldFolders' when it refused.
UniqueFileHandle CreateOwnFileOnHeldPath(const wchar_t* path, MissingFolders missing, DWORD access,
                                         DWORD share, DWORD& error, bool& nameHeld) noexcept;

// Removes the name `path` (never what a link there points to; whatever the
// file's attributes), its folders held meanwhile and none created: so that no
// file from before stands at the name of a result the run writes later.
// 0 when nothing stands there any more or a folder stands there; else the
// system's error.
DWORD RemoveOwnName(const wchar_t* path) noexcept;

// Removes the name of a file of the run's own, open as `file` with DELETE
// access: a result that could not be written whole is not left behind.
bool DiscardOwnFile(HANDLE file) noexcept;

// Makes `path` a new file of the run's own only where nothing stands yet
// (CREATE_NEW, OwnSecurity): fails with ERROR_FILE_EXISTS when something does.
UniqueFileHandle CreateFreshOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD& error) noexcept;

// What stands at a name where the run would make a file of its own, looked at
// without changing anything.
enum class NameState {
    Free,      // nothing stands there
    Removable, // a file or link that the run would remove
    Held,      // a folder, or something that the run could not remove
};
NameState LookAtName(const wchar_t* path) noexcept;
