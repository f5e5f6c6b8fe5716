// Held files: others may read them but not change them, and a file that
// another program has open for writing cannot be held.
#include "system/held_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "support/tamper.h"
#include "support/test_env.h"
#include "system/win_owners.h"

namespace {

const wchar_t kLocation[] = L" Fnc : HeldFileTest; Line : 1; ";

TEST(HeldFile, OthersMayReadButNotWriteRenameOrDelete) {
    qztest::TempDir dir;
    const std::wstring path = dir / L"package.msi";
    qztest::WriteFileBytes(path, "the package");
    {
        const HeldFile held = HeldFile::Hold(path, kLocation);
        ASSERT_TRUE(held.held());
        EXPECT_EQ(path, held.path());
        EXPECT_EQ(0u, held.error());
        const qztest::ChangeAttempts attempts = qztest::TryToChange(path);
        EXPECT_TRUE(attempts.AllShareRefused())
            << attempts.write << " " << attempts.rename << " " << attempts.remove;
        // Readers are welcome, the installer among them; so is a second holder.
        EXPECT_EQ("the package", qztest::ReadFileBytes(path));
        EXPECT_TRUE(HeldFile::Hold(path, kLocation).held());
    }
    // Released with its holder.
    const qztest::ChangeAttempts after = qztest::TryToChange(path);
    EXPECT_EQ(0u, after.write);
    EXPECT_EQ(0u, after.rename);
    EXPECT_EQ(0u, after.remove);
}

TEST(HeldFile, AFileOpenForWritingElsewhereRaisesMessage147) {
    qztest::TempDir dir;
    const std::wstring path = dir / L"copy in progress.msi";
    qztest::WriteFileBytes(path, "half a package");
    // A writer that lets others read, as a copy does.
    const UniqueFileHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());

    std::wstringbuf log;
    LogStreamCapture capture(log);
    try {
        HeldFile::Hold(path, kLocation);
        ADD_FAILURE() << "no exception";
    } catch (const FileHoldFailure& e) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), e.GetError());
        const std::wstring system = qztest::SystemText(ERROR_SHARING_VIOLATION);
        EXPECT_EQ(L"File " + path +
                      L" could not be held unchanged for the installation: another program may have it open "
                      L"for writing.\nError description: " +
                      system + L".",
                  e.Text());
        EXPECT_EQ(qztest::ToUtf8(e.Text()), e.what()) << "the ANSI text of an ASCII path";
        // Raised with its location, like the system's other errors.
        EXPECT_EQ(L"QZSETUP:BOOTSTRAP:ERR:32:Error occured at " + std::wstring(kLocation) +
                      L".\nError description: " + system + L".\r\n",
                  log.str());
    }
}

TEST(HeldFile, OtherFailuresHoldNothingUntilTheFileTurnsOutReadable) {
    qztest::TempDir dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"folder.msi").c_str(), nullptr));
    const struct {
        const char* what;
        std::wstring path;
    } cases[] = {
        {"no such file", dir / L"missing.msi"},
        {"no such folder", dir / L"missing\\package.msi"},
        {"a folder", dir / L"folder.msi"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstringbuf log;
        LogStreamCapture capture(log);
        // Whoever reads the file next reports the failure, as before.
        const HeldFile held = HeldFile::Hold(c.path, kLocation);
        EXPECT_FALSE(held.held());
        EXPECT_NE(0u, held.error());
        EXPECT_EQ(L"", log.str());
        // A file read although it could not be held is refused.
        try {
            held.Confirm(kLocation);
            ADD_FAILURE() << "no exception";
        } catch (const FileHoldFailure& e) {
            EXPECT_EQ(held.error(), e.GetError());
            EXPECT_EQ(0u, e.Text().find(L"File " + c.path + L" could not be held"));
        }
    }
}

} // namespace
