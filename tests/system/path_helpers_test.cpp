#include "system/path_helpers.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <utility>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "support/test_env.h"

namespace {

std::wstring CurrentDirectory() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    return std::wstring(buffer, length);
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Runs `action`, which must raise a WinException, with the log captured; returns the
// error and the captured text.
template <class Action> std::pair<DWORD, std::wstring> CaptureWinException(Action action) {
    std::wstringbuf log;
    DWORD error = 0;
    {
        LogStreamCapture capture(log);
        try {
            action();
            ADD_FAILURE() << "no exception";
        } catch (const WinException& e) {
            error = e.GetError();
        }
    }
    return {error, log.str()};
}

std::wstring ErrorLineStart(DWORD error, const wchar_t* location) {
    return L"QZSETUP:BOOTSTRAP:ERR:" + std::to_wstring(error) + L":Error occured at " + location + L".\n";
}

TEST(GetModuleDir, DirectoryOfTheRunningProgram) {
    const std::wstring dir = GetModuleDir();
    EXPECT_EQ(qztest::BinDir(), dir);
    ASSERT_GE(dir.size(), 3u);
    EXPECT_EQ(L':', dir[1]);
    EXPECT_EQ(L'\\', dir.back());
    EXPECT_TRUE(IsDirectory(dir));
}

class PathTest : public ::testing::Test {
protected:
    void SetUp() override {
        qztest::WriteFileBytes(m_dir / L"file.txt", "x");
        ASSERT_TRUE(CreateDirectoryW((m_dir / L"sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((m_dir / L"sub dir").c_str(), nullptr));
        m_saved = CurrentDirectory();
        ASSERT_TRUE(SetCurrentDirectoryW(m_dir.path().c_str()));
        m_current = CurrentDirectory(); // without its trailing backslash
    }
    void TearDown() override { SetCurrentDirectoryW(m_saved.c_str()); }

    qztest::TempDir m_dir;
    std::wstring m_saved;
    std::wstring m_current;
};

TEST_F(PathTest, FileExistsOnlyForFiles) {
    const struct {
        std::wstring path;
        bool exists;
    } cases[] = {
        {m_dir / L"file.txt", true},
        {L"file.txt", true},
        {m_dir / L"sub", false},
        {m_dir / L"sub\\", false},
        {m_dir.path(), false},
        {m_dir / L"missing.txt", false},
        {m_dir / L"missing\\file.txt", false},
        {qztest::SetupExePath(), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.exists, FileExists(c.path)) << qztest::ToUtf8(c.path);
}

TEST_F(PathTest, FileExistsRaisesForAFileHeldByAWriter) {
    // The probe shares reading only: a file that another handle writes to cannot be probed.
    const std::wstring path = m_dir / L"held.txt";
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    const auto raised = CaptureWinException([&] { FileExists(path); });
    CloseHandle(handle);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), raised.first);
    EXPECT_EQ(0u, raised.second.find(ErrorLineStart(
                      ERROR_SHARING_VIOLATION, L" Fnc : `anonymous-namespace'::_ExistsArchive; Line : 23; ")))
        << qztest::ToUtf8(raised.second);
    // Once the writer is gone the file is there; the probe left no handle open that would block deleting it.
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}

TEST_F(PathTest, Rel2AbsFilePath) {
    const std::wstring parent = m_current.substr(0, m_current.find_last_of(L'\\'));
    const struct {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"x.txt", m_current + L"\\x.txt"},
        {L"file.txt", m_current + L"\\file.txt"},
        {L"sub\\new.log", m_current + L"\\sub\\new.log"},
        {L"sub/new.log", m_current + L"\\sub\\new.log"},
        {L"sub\\..\\y.txt", m_current + L"\\y.txt"},
        {L"..\\z.txt", parent + L"\\z.txt"},
        {L" \"sub dir\\a b.txt\" ", m_current + L"\\sub dir\\a b.txt"},
        {m_dir / L"sub\\abs.txt", m_current + L"\\sub\\abs.txt"},
        {L"name.with.dots.txt", m_current + L"\\name.with.dots.txt"},
        {L"C:\\root.txt", L"C:\\root.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.path));
        std::wstring path = c.path;
        Rel2AbsFilePath(path);
        EXPECT_EQ(c.expected, path);
        EXPECT_EQ(m_current, CurrentDirectory());
    }
}

TEST_F(PathTest, Rel2AbsDirPath) {
    const struct {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"", m_current + L"\\"},
        {L" \t ", m_current + L"\\"},
        {L"\"\"", m_current + L"\\"},
        {L"sub", m_current + L"\\sub\\"},
        {L"\"sub dir\"", m_current + L"\\sub dir\\"},
        {L"sub\\", m_current + L"\\sub\\"},
        {L"sub/", m_current + L"\\sub\\"},
        {L".", m_current + L"\\"},
        {m_dir.path(), m_current + L"\\"},
        {L"C:\\", L"C:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.path));
        std::wstring path = c.path;
        Rel2AbsDirPath(path);
        EXPECT_EQ(c.expected, path);
        EXPECT_EQ(m_current, CurrentDirectory());
    }
}

TEST_F(PathTest, MissingDirectoryRaisesAndKeepsTheCurrentDirectory) {
    const struct {
        const wchar_t* path;
        DWORD error; // 0: whatever the system says
    } cases[] = {
        {L"missing\\x.txt", ERROR_FILE_NOT_FOUND},
        {L"missing\\deeper\\x.txt", ERROR_PATH_NOT_FOUND},
        {L"file.txt\\x.txt", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.path));
        const wchar_t* const path = c.path;
        std::wstring value = path;
        const auto raised = CaptureWinException([&] { Rel2AbsFilePath(value); });
        if (c.error) {
            EXPECT_EQ(c.error, raised.first);
        } else {
            EXPECT_NE(0u, raised.first);
        }
        EXPECT_EQ(0u, raised.second.find(ErrorLineStart(raised.first, L" Fnc : _Rel2AbsPath; Line : 49; ")))
            << qztest::ToUtf8(raised.second);
        EXPECT_EQ(path, value) << "the path is left as it was";
        EXPECT_EQ(m_current, CurrentDirectory());
    }
    std::wstring dir = L"missing";
    const auto raised = CaptureWinException([&] { Rel2AbsDirPath(dir); });
    EXPECT_EQ(0u, raised.second.find(ErrorLineStart(raised.first, L" Fnc : _Rel2AbsPath; Line : 49; ")));
    EXPECT_EQ(m_current, CurrentDirectory());
}

TEST(Trim, SpacesAndQuotes) {
    const struct {
        const wchar_t* text;
        const wchar_t* spacesAndQuotes;
        const wchar_t* spaces;
    } cases[] = {
        {L"", L"", L""},
        {L"   ", L"", L""},
        {L"\"\"", L"", L"\"\""},
        {L"plain", L"plain", L"plain"},
        {L" \t\r\n\v\fword\f\v\n\r\t ", L"word", L"word"},
        {L"\"C:\\Program Files\\X\" ", L"C:\\Program Files\\X", L"\"C:\\Program Files\\X\""},
        {L" \" a \"b\" c \" ", L"a \"b\" c", L"\" a \"b\" c \""},
        {L"\u3000ideographic\u3000", L"ideographic", L"ideographic"},
        {L"\u00A0nbsp\u2003", L"nbsp", L"nbsp"},
        {L"'single'", L"'single'", L"'single'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.text));
        std::wstring both = c.text;
        TrimSpacesAndQuotes(both);
        EXPECT_EQ(c.spacesAndQuotes, both);
        std::wstring spaces = c.text;
        TrimSpaces(spaces);
        EXPECT_EQ(c.spaces, spaces);
    }
}

TEST_F(PathTest, CreateDirPathCreatesEveryMissingDirectory) {
    const struct {
        std::wstring path;
        std::wstring created; // the deepest directory that must exist afterwards
    } cases[] = {
        {m_dir / L"a1\\b1\\", m_dir / L"a1\\b1"},
        {m_dir / L"a2\\b2", m_dir / L"a2\\b2"},
        {m_dir / L"a3\\\\b3\\", m_dir / L"a3\\b3"},
        {m_dir / L"a4/b4/c4/", m_dir / L"a4\\b4\\c4"},
        {m_dir / L"a1\\b1\\", m_dir / L"a1\\b1"}, // both exist: nothing to do
        {m_dir / L"sub\\deeper\\log.txt", m_dir / L"sub\\deeper\\log.txt"},
        {L"relative\\r1\\", m_dir / L"relative\\r1"},
        // Longer than a path buffer: the working copy lives on the heap.
        {m_dir / L"h1" + std::wstring(280, L'/') + L"h2", m_dir / L"h1\\h2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.path));
        CreateDirPath(c.path);
        EXPECT_TRUE(IsDirectory(c.created));
    }
    CreateDirPath(L""); // nothing to do
    EXPECT_EQ(m_current, CurrentDirectory());
}

// The walk that both the making of a path and the holding of a file's
// folders go along: each name once, whatever separators stand between.
TEST(WalkPathFolders, EachNameUpToTheLimit) {
    const struct {
        const wchar_t* path;
        std::size_t from;
        std::size_t limit;       // npos: the whole text
        const wchar_t* prefixes; // the prefixes walked, each followed by '|'
    } cases[] = {
        {L"C:\\a\\b", 0, std::wstring::npos, L"C:|C:\\a|C:\\a\\b|"},
        {L"\\\\a//b\\\\\\c\\", 0, std::wstring::npos, L"\\\\a|\\\\a//b|\\\\a//b\\\\\\c|"},
        {L"C:\\a\\b\\file", 3, 7, L"C:\\a|C:\\a\\b|"},
        {L"", 0, 0, L""},
        {L"\\/\\", 0, std::wstring::npos, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(qztest::ToUtf8(c.path));
        std::wstring text = c.path;
        std::wstring walked;
        const std::size_t limit = c.limit == std::wstring::npos ? text.size() : c.limit;
        EXPECT_TRUE(WalkPathFolders(&text[0], c.from, limit, [&](const wchar_t* prefix, std::size_t length) {
            EXPECT_EQ(std::wstring(prefix).size(), length);
            walked += std::wstring(prefix) + L"|";
            return true;
        }));
        EXPECT_EQ(c.prefixes, walked);
        EXPECT_EQ(c.path, text) << "the text is made whole again";
    }

    std::wstring text = L"a\\b\\c";
    int steps = 0;
    EXPECT_FALSE(
        WalkPathFolders(&text[0], 0, text.size(), [&](const wchar_t*, std::size_t) { return ++steps < 2; }));
    EXPECT_EQ(2, steps) << "the walk stops at the step that says so";
    EXPECT_EQ(L"a\\b\\c", text);
}

TEST_F(PathTest, CreateDirPathStopsAtAFile) {
    const auto raised = CaptureWinException([&] { CreateDirPath(m_dir / L"file.txt\\below\\"); });
    EXPECT_NE(0u, raised.first);
    EXPECT_EQ(0u, raised.second.find(ErrorLineStart(raised.first, L" Fnc : CreateDirPath; Line : 52; ")))
        << qztest::ToUtf8(raised.second);
    EXPECT_FALSE(IsDirectory(m_dir / L"file.txt\\below"));
}

TEST(TmpFile, CreatedInTheTemporaryDirectoryAndRemovedByItsOwner) {
    wchar_t tempPath[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, tempPath));
    std::wstring name;
    {
        const TmpFile file = CreateTmpFile();
        ASSERT_TRUE(file);
        name = file.name();
        EXPECT_EQ(0u, name.find(tempPath)) << qztest::ToUtf8(name);
        EXPECT_TRUE(FileExists(name));
        EXPECT_EQ("", qztest::ReadFileBytes(name));
        const TmpFile second = CreateTmpFile();
        EXPECT_NE(name, std::wstring(second.name()));
    }
    EXPECT_FALSE(qztest::PathExists(name));
}

TEST(TmpFile, MovedFromRemovesNothing) {
    std::wstring firstName;
    std::wstring secondName;
    {
        TmpFile target;
        EXPECT_FALSE(target);
        {
            TmpFile source = CreateTmpFile();
            firstName = source.name();
            target = std::move(source);
            EXPECT_FALSE(source);
            EXPECT_EQ(nullptr, source.name());
        }
        EXPECT_TRUE(qztest::PathExists(firstName)) << "the moved-from owner removed the file";
        EXPECT_EQ(firstName, target.name());

        TmpFile other = CreateTmpFile();
        secondName = other.name();
        target = std::move(other); // replaces: the first file goes now
        EXPECT_FALSE(qztest::PathExists(firstName));
        EXPECT_TRUE(qztest::PathExists(secondName));

        TmpFile constructed(std::move(target));
        EXPECT_FALSE(target);
        EXPECT_TRUE(qztest::PathExists(secondName));
    }
    EXPECT_FALSE(qztest::PathExists(secondName));
}

} // namespace
