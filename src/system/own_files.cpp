#include "system/own_files.h"

#include <utility>

#include "system/errors.h"
#include "system/path_helpers.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What stands at a name, opened as itself: a link is not followed, and a
// folder opens too.
constexpr DWORD kAsItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
// How often a name that comes back after its removal is removed again.
constexpr int kAttempts = 3;

// The removal that ignores a read-only attribute (Windows 10 1809 and later):
// FileDispositionInfoEx with FILE_DISPOSITION_FLAG_DELETE |
// FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE, named here because the
// headers offer them only to programs that require that system.
constexpr FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDeleteIgnoringReadOnly = 0x00000001 | 0x00000010;

bool ReadFacts(HANDLE handle, EntryFacts& facts) noexcept {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return false;
    facts.attributes = information.dwFileAttributes;
    facts.links = information.nNumberOfLinks;
    facts.reparseTag = 0;
    if (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
            return false;
        facts.reparseTag = tag.ReparseTag;
    }
    return true;
}

bool NameIsHeld(DWORD error) noexcept {
    return IsSharingError(error) || error == ERROR_ACCESS_DENIED;
}

// Opens what stands at `path` as itself, to remove its name: with leave to
// change its attributes where the run may, else without.
UniqueFileHandle OpenStanding(const wchar_t* path) noexcept {
    UniqueFileHandle standing(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                          kShareAll, nullptr, OPEN_EXISTING, kAsItself, nullptr));
    if (!standing.valid() && GetLastError() == ERROR_ACCESS_DENIED)
        standing.reset(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                   kAsItself, nullptr));
    return standing;
}

bool SetAttributes(HANDLE file, DWORD attributes) noexcept {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks the name open as `standing` for removal (it goes once the handle
// closes, unless another program still has the file open). A read-only
// attribute does not keep it: ignored where the system can, else cleared,
// and given back to a file that keeps other names, whose attributes are not
// the run's to change.
bool RemoveNameOf(HANDLE standing, const EntryFacts& facts, DWORD& error) noexcept {
    DWORD ignoring = kDeleteIgnoringReadOnly; // FILE_DISPOSITION_INFO_EX
    if (SetFileInformationByHandle(standing, kDispositionInfoEx, &ignoring, sizeof ignoring))
        return true;
    const bool readOnly = (facts.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const DWORD kept = facts.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
    const bool cleared =
        readOnly && SetAttributes(standing, kept & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool removed =
        SetFileInformationByHandle(standing, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    if (!removed)
        error = GetLastError();
    if (cleared && (!removed || facts.links > 1))
        SetAttributes(standing, kept);
    return removed;
}

// One attempt: removes what stands at `path` if need be, then creates the file.
UniqueFileHandle TryCreate(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                           DWORD& error, bool& nameHeld) noexcept {
    nameHeld = false;
    bool removed = false;
    {
        const UniqueFileHandle standing = OpenStanding(path);
        if (standing.valid()) {
            EntryFacts facts;
            if (!ReadFacts(standing.get(), facts)) {
                error = GetLastError();
                return UniqueFileHandle();
            }
            if (DecideForFileName(facts) == NameAction::Refuse) {
                error = ERROR_ACCESS_DENIED;
                nameHeld = true;
                return UniqueFileHandle();
            }
            if (!RemoveNameOf(standing.get(), facts, error)) {
                nameHeld = true;
                return UniqueFileHandle();
            }
            removed = true;
        } else {
            error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
                nameHeld = NameIsHeld(error);
                return UniqueFileHandle();
            }
        }
    }
    UniqueFileHandle file(CreateFileW(path, access, share, security, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        error = GetLastError();
        // Something stands there again, or the old file waits for its last
        // handle to close before its name goes.
        nameHeld = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                   (removed && error == ERROR_ACCESS_DENIED);
    }
    return file;
}

// The end of the component that starts at `at`.
std::size_t ComponentEnd(const wchar_t* path, std::size_t at) noexcept {
    while (path[at] != L'\0' && !IsPathSeparator(path[at]))
        ++at;
    return at;
}

std::size_t SkipSeparators(const wchar_t* path, std::size_t at) noexcept {
    while (IsPathSeparator(path[at]))
        ++at;
    return at;
}

bool StartsWith(const wchar_t* path, const wchar_t* start) noexcept {
    for (; *start != L'\0'; ++path, ++start)
        if (*path != *start)
            return false;
    return true;
}

// Where the folders of the full path `path` begin: after the drive (C:\),
// after the share of a UNC path (\\server\share\), after the volume of a
// \\?\ path. The root itself is not a folder to hold.
std::size_t RootLength(const wchar_t* path) noexcept {
    std::size_t at = 0;
    std::size_t parts = 0; // components that belong to the root
    if (StartsWith(path, L"\\\\?\\UNC\\") || StartsWith(path, L"\\\\.\\UNC\\")) {
        at = 8;
        parts = 2;
    } else if (StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\")) {
        at = 4;
        parts = 1;
    } else if (IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        at = 2;
        parts = 2;
    } else if (path[0] != L'\0' && path[1] == L':') {
        return SkipSeparators(path, 2);
    }
    for (; parts != 0 && path[at] != L'\0'; --parts)
        at = SkipSeparators(path, ComponentEnd(path, at));
    return at;
}

// Opens a folder as itself to hold it: listed, so that its share mode counts
// (a handle that may only read attributes takes no part in the sharing
// checks), and without leave for others to delete or rename it.
UniqueFileHandle OpenToHold(const wchar_t* path) noexcept {
    return UniqueFileHandle(CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kAsItself,
                                        nullptr));
}

// One folder of the path, `prefix` (ending where the folder's name ends).
DWORD HoldFolder(const wchar_t* prefix, MissingFolders missing, SECURITY_ATTRIBUTES* security, bool& stop,
                 UniqueFileHandle& folder) noexcept {
    folder = OpenToHold(prefix);
    bool holding = folder.valid();
    if (!holding) {
        const DWORD error = GetLastError();
        if (IsSharingError(error))
            return error;
        if (error == ERROR_ACCESS_DENIED) {
            // Passed through, not listed: looked at only.
            folder.reset(CreateFileW(prefix, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     kAsItself, nullptr));
            if (!folder.valid())
                return GetLastError();
        } else if (error == ERROR_FILE_NOT_FOUND && missing == MissingFolders::Leave) {
            stop = true;
            return 0;
        } else if (error == ERROR_FILE_NOT_FOUND) {
            if (!CreateDirectoryW(prefix, security) && GetLastError() != ERROR_ALREADY_EXISTS)
                return GetLastError();
            folder = OpenToHold(prefix);
            if (!folder.valid())
                return GetLastError();
            holding = true;
        } else {
            return error;
        }
    }
    EntryFacts facts;
    if (!ReadFacts(folder.get(), facts))
        return GetLastError();
    if (!IsUsableFolder(facts))
        return kReparsePointOnPath;
    if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return ERROR_PATH_NOT_FOUND;
    if (!holding)
        folder.reset();
    return 0;
}

} // namespace

NameAction DecideForFileName(const EntryFacts& facts) {
    const bool folder = (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool reparsePoint = (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return folder && !reparsePoint ? NameAction::Refuse : NameAction::Replace;
}

bool IsUsableFolder(const EntryFacts& facts) {
    return (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

OwnSecurity::OwnSecurity(bool folder) noexcept : m_descriptor{}, m_attributes{}, m_error(0) {
    m_error = Build(folder);
}

DWORD OwnSecurity::Build(bool folder) noexcept {
    DWORD size = sizeof m_system;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, m_system, &size))
        return GetLastError();
    size = sizeof m_administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, m_administrators, &size))
        return GetLastError();

    // The user who started the run: the user of the process's token.
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return GetLastError();
    const UniqueKernelHandle tokenOwner(token);
    DWORD length = 0;
    if (!GetTokenInformation(token, TokenUser, m_user, sizeof m_user, &length))
        return GetLastError();
    const PSID user = reinterpret_cast<TOKEN_USER*>(m_user)->User.Sid;

    ACL* const acl = reinterpret_cast<ACL*>(m_acl);
    if (!InitializeAcl(acl, sizeof m_acl, ACL_REVISION))
        return GetLastError();
    const DWORD inherit = folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, m_system) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, m_administrators) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_GENERIC_READ, user))
        return GetLastError();

    if (!InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return GetLastError();
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
    return 0;
}

bool operator==(const FileIdentity& a, const FileIdentity& b) noexcept {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

bool IdentityOf(HANDLE file, FileIdentity& identity) noexcept {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information))
        return false;
    identity.volume = information.dwVolumeSerialNumber;
    identity.indexHigh = information.nFileIndexHigh;
    identity.indexLow = information.nFileIndexLow;
    return true;
}

bool IsStillTheFile(const wchar_t* path, HANDLE file) noexcept {
    const UniqueFileHandle standing(
        CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, kAsItself, nullptr));
    FileIdentity there;
    FileIdentity own;
    return standing.valid() && IdentityOf(standing.get(), there) && IdentityOf(file, own) && there == own;
}

UniqueFileHandle CreateOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD& error,
                               bool& nameHeld) noexcept {
    error = 0;
    nameHeld = false;
    OwnSecurity security;
    if (!security.valid()) {
        error = security.error();
        return UniqueFileHandle();
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        UniqueFileHandle file = TryCreate(path, access, share, security.attributes(), error, nameHeld);
        if (file.valid()) {
            error = 0;
            return file;
        }
        // Only a name that came back is tried again.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    return UniqueFileHandle();
}

UniqueFileHandle CreateFreshOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD& error) noexcept {
    error = 0;
    OwnSecurity security;
    if (!security.valid()) {
        error = security.error();
        return UniqueFileHandle();
    }
    UniqueFileHandle file(CreateFileW(path, access, share, security.attributes(), CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid())
        error = GetLastError();
    return file;
}

bool IsFolderRefusal(DWORD error) noexcept {
    return error == kReparsePointOnPath || IsSharingError(error);
}

void HeldFolders::release() noexcept {
    for (std::size_t i = 0; i < m_count; ++i)
        m_folders[i].reset();
    m_count = 0;
}

bool HeldFolders::Add(UniqueFileHandle folder) noexcept {
    if (m_count == kCapacity)
        return false;
    m_folders[m_count++] = std::move(folder);
    return true;
}

DWORD HoldFolders(const wchar_t* file, MissingFolders missing, HeldFolders& held) noexcept {
    held.release();
    held.m_complete = false;
    wchar_t full[32768];
    const DWORD length = GetFullPathNameW(file, 32768, full, nullptr);
    if (length == 0)
        return GetLastError();
    if (length >= 32768)
        return ERROR_FILENAME_EXCED_RANGE;
    OwnSecurity security(true);
    if (missing == MissingFolders::Create && !security.valid())
        return security.error();

    // The last component is the file's own name.
    std::size_t nameStart = length;
    while (nameStart > 0 && !IsPathSeparator(full[nameStart - 1]))
        --nameStart;
    DWORD error = 0;
    const bool walked =
        WalkPathFolders(full, RootLength(full), nameStart, [&](const wchar_t* prefix, std::size_t) noexcept {
            bool stop = false;
            UniqueFileHandle folder;
            error = HoldFolder(prefix, missing, security.attributes(), stop, folder);
            if (error == 0 && folder.valid() && !held.Add(std::move(folder)))
                error = ERROR_FILENAME_EXCED_RANGE;
            return error == 0 && !stop;
        });
    if (error != 0)
        return error;
    held.m_complete = walked;
    return 0;
}

UniqueFileHandle CreateOwnFileOnHeldPath(const wchar_t* path, MissingFolders missing, DWORD access,
                                         DWORD share, DWORD& error, bool& nameHeld) noexcept {
    nameHeld = false;
    HeldFolders folders;
    error = HoldFolders(path, missing, folders);
    if (error != 0)
        return UniqueFileHandle();
    return CreateOwnFile(path, access, share, error, nameHeld);
}

DWORD RemoveOwnName(const wchar_t* path) noexcept {
    HeldFolders folders;
    const DWORD refused = HoldFolders(path, MissingFolders::Leave, folders);
    if (refused != 0)
        return refused;
    if (!folders.complete())
        return 0;
    const UniqueFileHandle standing = OpenStanding(path);
    if (!standing.valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    EntryFacts facts;
    if (!ReadFacts(standing.get(), facts))
        return GetLastError();
    // A folder is read as no result.
    if (DecideForFileName(facts) == NameAction::Refuse)
        return 0;
    DWORD error = 0;
    return RemoveNameOf(standing.get(), facts, error) ? 0 : error;
}

bool DiscardOwnFile(HANDLE file) noexcept {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

NameState LookAtName(const wchar_t* path) noexcept {
    const UniqueFileHandle standing(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                                OPEN_EXISTING, kAsItself, nullptr));
    if (!standing.valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NameState::Free
                                                                              : NameState::Held;
    }
    EntryFacts facts;
    if (!ReadFacts(standing.get(), facts))
        return NameState::Held;
    return DecideForFileName(facts) == NameAction::Refuse ? NameState::Held : NameState::Removable;
}
