// Files the run makes itself: what stands at their name is removed, never
// written into, and they are made anew with a security descriptor of their own.
#include "system/own_files.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "system/errors.h"
#include "support/tamper.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;

TEST(OwnFiles, TheDecisionFromTheHandlesFacts) {
    const struct {
        const char* what;
        EntryFacts facts;
        NameAction forFile;
        bool usableFolder;
    } cases[] = {
        {"a file", {kFile, 0, 1}, NameAction::Replace, true},
        {"a hard link", {kFile, 0, 2}, NameAction::Replace, true},
        {"a read-only file", {FILE_ATTRIBUTE_READONLY, 0, 1}, NameAction::Replace, true},
        {"a symbolic link to a file",
         {kFile | kReparse, IO_REPARSE_TAG_SYMLINK, 1},
         NameAction::Replace,
         false},
        {"a plain folder", {kFolder, 0, 1}, NameAction::Refuse, true},
        {"a junction", {kFolder | kReparse, IO_REPARSE_TAG_MOUNT_POINT, 1}, NameAction::Replace, false},
        {"a mount point", {kFolder | kReparse, IO_REPARSE_TAG_MOUNT_POINT, 1}, NameAction::Replace, false},
        {"a symbolic link to a folder",
         {kFolder | kReparse, IO_REPARSE_TAG_SYMLINK, 1},
         NameAction::Replace,
         false},
        {"a reparse point of another kind", {kFile | kReparse, 0x80000017, 1}, NameAction::Replace, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.forFile, DecideForFileName(c.facts));
        EXPECT_EQ(c.usableFolder, IsUsableFolder(c.facts));
    }
}

std::string Contents(HANDLE file) {
    std::string bytes(64, '\0');
    DWORD read = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

TEST(OwnFiles, WhateverStandsAtTheNameIsReplacedNeverWrittenInto) {
    qztest::TempDir dir;
    qztest::TempDir elsewhere; // stands for a protected file's folder
    const std::wstring protectedFile = elsewhere / L"protected.txt";
    qztest::WriteFileBytes(protectedFile, "protected");
    qztest::WriteFileBytes(dir / L"planted.log", "planted by a user");
    ASSERT_TRUE(CreateHardLinkW((dir / L"linked.log").c_str(), protectedFile.c_str(), nullptr));
    ASSERT_EQ(2u, qztest::LinksOf(protectedFile));

    for (const wchar_t* name : {L"new.log", L"planted.log", L"linked.log"}) {
        SCOPED_TRACE(qztest::ToUtf8(name));
        const std::wstring path = dir / name;
        DWORD error = 1;
        bool nameHeld = true;
        const UniqueFileHandle file =
            CreateOwnFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, error, nameHeld);
        ASSERT_TRUE(file.valid()) << error;
        EXPECT_EQ(0u, error);
        EXPECT_FALSE(nameHeld);
        EXPECT_EQ("", Contents(file.get())) << "a new, empty file";
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "the run's own", 13, &written, nullptr));
        EXPECT_EQ(1u, qztest::LinksOf(path));
    }
    EXPECT_EQ("protected", qztest::ReadFileBytes(protectedFile)) << "the link's target is untouched";
    EXPECT_EQ(1u, qztest::LinksOf(protectedFile));
    EXPECT_EQ("the run's own", qztest::ReadFileBytes(dir / L"linked.log"));
}

TEST(OwnFiles, ANameThatCannotBeHadFails) {
    qztest::TempDir dir;
    const std::wstring held = dir / L"held.log";
    qztest::WriteFileBytes(held, "held by another program");
    // Open without leave to delete: the name cannot be removed.
    const UniqueFileHandle other(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other.valid());
    ASSERT_TRUE(CreateDirectoryW((dir / L"folder.log").c_str(), nullptr));
    const struct {
        const char* what;
        std::wstring path;
        bool nameHeld;
    } cases[] = {
        {"held by another program", held, true},
        {"a folder", dir / L"folder.log", true},
        {"a folder that is not there", dir / L"missing\\x.log", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DWORD error = 0;
        bool nameHeld = !c.nameHeld;
        const UniqueFileHandle file = CreateOwnFile(c.path.c_str(), GENERIC_WRITE, 0, error, nameHeld);
        EXPECT_FALSE(file.valid());
        EXPECT_NE(0u, error);
        EXPECT_EQ(c.nameHeld, nameHeld);
    }
    EXPECT_EQ("held by another program", qztest::ReadFileBytes(held));

    // A fresh name is only taken where nothing stands.
    DWORD error = 0;
    EXPECT_FALSE(CreateFreshOwnFile(held.c_str(), GENERIC_WRITE, 0, error).valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), error);
    EXPECT_TRUE(CreateFreshOwnFile((dir / L"held-1.log").c_str(), GENERIC_WRITE, 0, error).valid());
}

TEST(OwnFiles, AFileOpenedAgainByNameIsCheckedByItsIdentity) {
    qztest::TempDir dir;
    const std::wstring path = dir / L"own.log";
    DWORD error = 0;
    bool nameHeld = false;
    const UniqueFileHandle own =
        CreateOwnFile(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, error, nameHeld);
    ASSERT_TRUE(own.valid()) << error;
    qztest::WriteFileBytes(dir / L"other.log", "another file");
    ASSERT_TRUE(CreateHardLinkW((dir / L"second-name.log").c_str(), path.c_str(), nullptr));
    const struct {
        const char* what;
        std::wstring path;
        bool same;
    } cases[] = {
        {"its own name", path, true},
        {"another name of the same file", dir / L"second-name.log", true},
        {"another file", dir / L"other.log", false},
        {"nothing there", dir / L"missing.log", false},
        {"the folder", dir.path(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.same, IsStillTheFile(c.path.c_str(), own.get()));
    }
    FileIdentity first;
    FileIdentity second;
    ASSERT_TRUE(IdentityOf(own.get(), first));
    const UniqueFileHandle other(CreateFileW((dir / L"other.log").c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(IdentityOf(other.get(), second));
    EXPECT_FALSE(first == second);
    EXPECT_FALSE(IdentityOf(INVALID_HANDLE_VALUE, second));
}

// The descriptor as the run builds it: read back from the object itself.
std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor) {
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"<" + std::to_wstring(GetLastError()) + L">";
    const std::wstring result = text;
    LocalFree(text);
    return result;
}

std::wstring UserSidText() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    const UniqueKernelHandle owner(token);
    BYTE buffer[256];
    DWORD length = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length);
    LPWSTR text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    const std::wstring result = text ? text : L"";
    LocalFree(text);
    return result;
}

TEST(OwnFiles, SystemAndAdministratorsFullControlTheUserRead) {
    OwnSecurity file;
    ASSERT_TRUE(file.valid()) << file.error();
    // Protected (nothing inherited), in this order; FR is FILE_GENERIC_READ.
    const std::wstring user = UserSidText();
    EXPECT_EQ(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;" + user + L")", DaclText(file.descriptor()));
    OwnSecurity folder(true);
    ASSERT_TRUE(folder.valid());
    EXPECT_EQ(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;" + user + L")",
              DaclText(folder.descriptor()));
}

// Wine keeps no descriptor of a file: it turns it into the Unix mode of the
// file, and GetSecurityInfo builds one back from that mode (SYSTEM, the owner,
// and Everyone for what others may do). What shows under Wine is that others
// get nothing, where a file made the ordinary way lets everyone read.
TEST(OwnFiles, AFileOfTheRunsOwnIsClosedToOthers) {
    qztest::TempDir dir;
    DWORD error = 0;
    bool nameHeld = false;
    const UniqueFileHandle own =
        CreateOwnFile((dir / L"own.log").c_str(), GENERIC_WRITE | READ_CONTROL, 0, error, nameHeld);
    ASSERT_TRUE(own.valid()) << error;
    const UniqueFileHandle plain(CreateFileW((dir / L"plain.log").c_str(), GENERIC_WRITE | READ_CONTROL, 0,
                                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(plain.valid());
    auto daclOf = [](HANDLE file) {
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const DWORD result = GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                             nullptr, &dacl, nullptr, &descriptor);
        const std::wstring text = result == ERROR_SUCCESS ? DaclText(descriptor) : L"<error>";
        LocalFree(descriptor);
        return text;
    };
    const std::wstring ownDacl = daclOf(own.get());
    const std::wstring plainDacl = daclOf(plain.get());
    EXPECT_NE(std::wstring::npos, ownDacl.find(L"(A;;FA;;;SY)")) << qztest::ToUtf8(ownDacl);
    EXPECT_EQ(std::wstring::npos, ownDacl.find(L";;;WD)")) << qztest::ToUtf8(ownDacl);
    EXPECT_NE(std::wstring::npos, plainDacl.find(L";;;WD)")) << qztest::ToUtf8(plainDacl);
}

DWORD AttributesOf(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

TEST(OwnFiles, ANamePlantedWithAttributesGoesTheFileKeepsThem) {
    qztest::TempDir dir;
    qztest::TempDir elsewhere; // another user's file, linked into the run's place
    const std::wstring protectedFile = elsewhere / L"protected.txt";
    qztest::WriteFileBytes(protectedFile, "protected");
    ASSERT_TRUE(SetFileAttributesW(protectedFile.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    const struct {
        const char* what;
        const wchar_t* name;
        DWORD attributes; // 0: a hard link to the protected file
    } cases[] = {
        {"read-only", L"read-only.txt", FILE_ATTRIBUTE_READONLY},
        {"hidden and system", L"hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"read-only, hidden and system", L"all.txt", kKeptAttributes},
        {"a read-only hard link", L"linked.txt", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring path = dir / c.name;
        if (c.attributes == 0) {
            ASSERT_TRUE(CreateHardLinkW(path.c_str(), protectedFile.c_str(), nullptr));
        } else {
            qztest::WriteFileBytes(path, "planted: 0");
            ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes));
        }
        {
            SCOPED_TRACE("made anew");
            DWORD error = 1;
            bool nameHeld = true;
            const UniqueFileHandle file = CreateOwnFile(path.c_str(), GENERIC_WRITE, 0, error, nameHeld);
            ASSERT_TRUE(file.valid()) << error;
            EXPECT_EQ(1u, qztest::LinksOf(path));
            EXPECT_EQ(0u, AttributesOf(path) & kKeptAttributes);
        }
        {
            SCOPED_TRACE("removed early");
            if (c.attributes == 0) {
                ASSERT_TRUE(DeleteFileW(path.c_str()));
                ASSERT_TRUE(CreateHardLinkW(path.c_str(), protectedFile.c_str(), nullptr));
            } else {
                ASSERT_TRUE(DeleteFileW(path.c_str()));
                qztest::WriteFileBytes(path, "planted: 0");
                ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes));
            }
            EXPECT_EQ(0u, RemoveOwnName(path.c_str()));
            EXPECT_FALSE(qztest::PathExists(path));
        }
    }
    // The other user's file lost a name, never its content or its attributes.
    EXPECT_EQ("protected", qztest::ReadFileBytes(protectedFile));
    EXPECT_EQ(1u, qztest::LinksOf(protectedFile));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              AttributesOf(protectedFile) & kKeptAttributes);
    SetFileAttributesW(protectedFile.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A folder is no result to remove; nothing is nothing to remove.
    ASSERT_TRUE(CreateDirectoryW((dir / L"folder").c_str(), nullptr));
    EXPECT_EQ(0u, RemoveOwnName((dir / L"folder").c_str()));
    EXPECT_TRUE(qztest::PathExists(dir / L"folder"));
    EXPECT_EQ(0u, RemoveOwnName((dir / L"missing\\x.txt").c_str()));
    EXPECT_FALSE(qztest::PathExists(dir / L"missing")) << "no folder made";
}

TEST(OwnFiles, AFileThatCouldNotBeWrittenWholeIsDiscarded) {
    qztest::TempDir dir;
    const std::wstring path = dir / L"result.txt";
    {
        DWORD error = 0;
        bool nameHeld = false;
        const UniqueFileHandle file = CreateOwnFileOnHeldPath(path.c_str(), MissingFolders::Leave,
                                                              GENERIC_WRITE | DELETE, 0, error, nameHeld);
        ASSERT_TRUE(file.valid()) << error;
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "half", 4, &written, nullptr));
        EXPECT_TRUE(DiscardOwnFile(file.get()));
    }
    EXPECT_FALSE(qztest::PathExists(path));
}

TEST(OwnFiles, TheFoldersOfThePathAreMadeAndHeld) {
    qztest::TempDir dir;
    qztest::WriteFileBytes(dir / L"file", "x");
    {
        HeldFolders held;
        ASSERT_EQ(0u, HoldFolders((dir / L"a\\b\\c\\x.log").c_str(), MissingFolders::Create, held));
        EXPECT_TRUE(held.complete());
        EXPECT_TRUE(qztest::PathExists(dir / L"a\\b\\c"));
        // Each folder of the path, the new ones included, cannot be renamed meanwhile.
        EXPECT_FALSE(MoveFileW((dir / L"a\\b").c_str(), (dir / L"a\\moved").c_str()));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
        EXPECT_FALSE(MoveFileW((dir / L"a").c_str(), (dir / L"moved").c_str()));
    }
    EXPECT_TRUE(MoveFileW((dir / L"a\\b").c_str(), (dir / L"a\\moved").c_str())) << "released";

    // A relative name holds the current directory's folders too.
    {
        wchar_t before[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, before);
        ASSERT_TRUE(SetCurrentDirectoryW((dir / L"a\\moved").c_str()));
        HeldFolders held;
        const DWORD error = HoldFolders(L"c\\x.log", MissingFolders::Leave, held);
        SetCurrentDirectoryW(before);
        ASSERT_EQ(0u, error);
        EXPECT_FALSE(MoveFileW((dir / L"a").c_str(), (dir / L"moved").c_str()));
    }

    // Another program holds a folder open with leave to delete it: the hold
    // is refused, not given up.
    const UniqueFileHandle other(CreateFileW((dir / L"a\\moved").c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(other.valid());
    const struct {
        const char* what;
        std::wstring path;
        MissingFolders missing;
        DWORD error;
        bool complete;
    } cases[] = {
        {"a folder held for deletion", dir / L"a\\moved\\c\\x.log", MissingFolders::Create,
         ERROR_SHARING_VIOLATION, false},
        {"a file on the way", dir / L"file\\below\\x.log", MissingFolders::Create, ERROR_PATH_NOT_FOUND,
         false},
        {"missing folders left missing", dir / L"new\\deeper\\x.log", MissingFolders::Leave, 0, false},
        {"no folder but the root", L"C:\\x.log", MissingFolders::Leave, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HeldFolders held;
        EXPECT_EQ(c.error, HoldFolders(c.path.c_str(), c.missing, held));
        EXPECT_EQ(c.complete, held.complete());
        EXPECT_EQ(c.error != 0 && c.error != ERROR_PATH_NOT_FOUND, IsFolderRefusal(c.error));
    }
    EXPECT_FALSE(qztest::PathExists(dir / L"new"));
    EXPECT_FALSE(qztest::PathExists(dir / L"a\\moved\\c\\x.log"));

    // The one way the results are made: refused with the hold's reason.
    DWORD error = 0;
    bool nameHeld = false;
    EXPECT_FALSE(CreateOwnFileOnHeldPath((dir / L"a\\moved\\x.txt").c_str(), MissingFolders::Leave,
                                         GENERIC_WRITE, 0, error, nameHeld)
                     .valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error);
    EXPECT_FALSE(qztest::PathExists(dir / L"a\\moved\\x.txt"));
}

TEST(OwnFiles, WhatTheRunWouldFindAtAName) {
    qztest::TempDir dir;
    qztest::WriteFileBytes(dir / L"file.log", "x");
    qztest::WriteFileBytes(dir / L"held.log", "x");
    ASSERT_TRUE(CreateDirectoryW((dir / L"folder.log").c_str(), nullptr));
    const UniqueFileHandle other(CreateFileW((dir / L"held.log").c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other.valid());
    const struct {
        const wchar_t* name;
        NameState state;
    } cases[] = {
        {L"none.log", NameState::Free},
        {L"file.log", NameState::Removable},
        {L"held.log", NameState::Held},
        {L"folder.log", NameState::Held},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.name));
        EXPECT_EQ(c.state, LookAtName((dir / c.name).c_str()));
    }
    EXPECT_TRUE(qztest::PathExists(dir / L"file.log")) << "looked at, not removed";
}

} // namespace
