#include "system/own_files.h"

#include <utility>

#include "diag/errors.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What stands at a name, opened as itself: a link is not followed, and a
// folder opens too.
constexpr DWORD kAsItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
// How often a name that comes back after its removal is removed again.
constexpr int kAttempts = 3;

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

// One attempt: removes what stands at `path` if need be, then creates the file.
UniqueFileHandle TryCreate(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                           DWORD& error, bool& nameHeld) noexcept {
    nameHeld = false;
    bool removed = false;
    {
        const UniqueFileHandle standing(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                                    OPEN_EXISTING, kAsItself, nullptr));
        if (standing.valid()) {
            EntryFacts facts;
            if (!ReadFacts(standing.get(), facts)) {
                error = GetLastError();
                return UniqueFileHandle();
            }
            if (DecideForFileName(facts) == NameAction::Refuse) {
                error = ERROR_ACCESS_DENIED;
                return UniqueFileHandle();
            }
            // The name goes once this handle is closed (at once, unless
            // another program still has the file open).
            FILE_DISPOSITION_INFO disposition{TRUE};
            if (!SetFileInformationByHandle(standing.get(), FileDispositionInfo, &disposition,
                                            sizeof disposition)) {
                error = GetLastError();
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

// Two backslashes count as one separator, as CreateDirPath counts them.
std::size_t SeparatorLengthAt(const std::wstring& text, std::size_t position) {
    if (text[position] == L'\\')
        return position + 1 < text.size() && text[position + 1] == L'\\' ? 2 : 1;
    return text[position] == L'/' ? 1 : 0;
}

// Opens a folder as itself, denying its renaming and removal while open
// (when another program already has it open for that, or the folder may not
// be listed, only to look at it).
// A handle that may only read attributes takes no part in the sharing checks:
// the holder asks to list the folder, so that its share mode counts.
UniqueFileHandle OpenFolder(const std::wstring& path) {
    UniqueFileHandle folder(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kAsItself,
                                        nullptr));
    if (!folder.valid() && (IsSharingError(GetLastError()) || GetLastError() == ERROR_ACCESS_DENIED))
        folder.reset(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                 kAsItself, nullptr));
    return folder;
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

bool CreateOwnFolders(const std::wstring& directory, std::vector<UniqueFileHandle>& held) {
    OwnSecurity security(true);
    if (!security.valid())
        ThrowWinException(security.error(), L" Fnc : CreateOwnFolders; Line : 12; ");
    const std::size_t length = directory.size();
    std::size_t componentStart = 0;
    for (;;) {
        std::size_t position = componentStart;
        std::size_t separatorLength = 0;
        while (position < length && (separatorLength = SeparatorLengthAt(directory, position)) == 0)
            ++position;

        // Empty components and bare drives need no step.
        if (position > componentStart && directory[position - 1] != L':') {
            const std::wstring prefix = directory.substr(0, position);
            UniqueFileHandle folder = OpenFolder(prefix);
            if (!folder.valid()) {
                const DWORD error = GetLastError();
                if (error != ERROR_FILE_NOT_FOUND)
                    ThrowWinException(error, L" Fnc : CreateOwnFolders; Line : 52; ");
                if (!CreateDirectoryW(prefix.c_str(), security.attributes()) &&
                    GetLastError() != ERROR_ALREADY_EXISTS)
                    ThrowWinException(GetLastError(), L" Fnc : CreateOwnFolders; Line : 49; ");
                folder = OpenFolder(prefix);
                if (!folder.valid())
                    ThrowWinException(GetLastError(), L" Fnc : CreateOwnFolders; Line : 57; ");
            }
            EntryFacts facts;
            if (!ReadFacts(folder.get(), facts))
                ThrowWinException(GetLastError(), L" Fnc : CreateOwnFolders; Line : 61; ");
            if (!IsUsableFolder(facts))
                return false;
            held.push_back(std::move(folder));
        }

        if (position >= length)
            break;
        componentStart = position + separatorLength;
    }
    return true;
}
