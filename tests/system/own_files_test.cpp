// Files the run makes itself: what stands at their name is removed, never
// written into, and they are made anew with a security descriptor of their own.
#include "system/own_files.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "diag/errors.h"
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

// How many names a file has.
DWORD LinksOf(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    return file.valid() && GetFileInformationByHandle(file.get(), &information) ? information.nNumberOfLinks
                                                                                : 0;
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
    ASSERT_EQ(2u, LinksOf(protectedFile));

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
        EXPECT_EQ(1u, LinksOf(path));
    }
    EXPECT_EQ("protected", qztest::ReadFileBytes(protectedFile)) << "the link's target is untouched";
    EXPECT_EQ(1u, LinksOf(protectedFile));
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
        {"a folder", dir / L"folder.log", false},
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

TEST(OwnFiles, TheFoldersOfThePathAreMadeAndHeld) {
    qztest::TempDir dir;
    qztest::WriteFileBytes(dir / L"file", "x");
    {
        std::vector<UniqueFileHandle> held;
        ASSERT_TRUE(CreateOwnFolders(dir / L"a\\b\\c\\", held));
        EXPECT_TRUE(qztest::PathExists(dir / L"a\\b\\c"));
        // Each folder of the path, the new ones included, cannot be renamed meanwhile.
        EXPECT_FALSE(MoveFileW((dir / L"a\\b").c_str(), (dir / L"a\\moved").c_str()));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    }
    EXPECT_TRUE(MoveFileW((dir / L"a\\b").c_str(), (dir / L"a\\moved").c_str())) << "released";

    // A file on the way is left for the system to refuse, as before.
    std::vector<UniqueFileHandle> held;
    EXPECT_THROW(CreateOwnFolders(dir / L"file\\below\\", held), WinException);
}

} // namespace
