// The log, the exit file and the plan are files the run makes itself: a hard
// link that an ordinary user planted at their names leads nowhere, a file
// planted there with any attributes never reads as the run's result, a file
// that another program holds there is left alone (the log then goes to a
// fresh name beside it), a folder of their path that cannot be held is not
// used, and an exit file that cannot be written is said so.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/package_builder.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/win_owners.h"

using namespace qztest;

namespace {

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The UTF-16 lines the bootstrapper wrote last (Wine's installer writes its
// own log from the start of the file, over the first ones).
std::wstring LogTail(const std::wstring& path) {
    const std::string bytes = ReadFileBytes(path);
    const std::size_t start = bytes.find(std::string("Q\0Z\0S\0E\0T\0U\0P\0", 14));
    std::wstring text;
    for (std::size_t i = start == std::string::npos ? bytes.size() : start; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

const std::wstring kSuccessLine = L"QZSETUP:BOOTSTRAP:INFO:0:" + SystemText(0) + L"\r\n";
const std::wstring kClosingLine = L"QZSETUP:BOOTSTRAP:INFO::Bootstrapper logging completed.\r\n";

// A package with a name of its own (so that its default log is its own), the
// folder beside qz-setup.exe, and clean-up of what the runs leave.
class PlantedFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_spec.productCode = NewGuid();
        m_spec.productName = L"QZ Planted " + m_spec.productCode.substr(1, 8);
        m_spec.installFolder = m_spec.productName;
        BuildPackage(m_spec, m_dir / L"package.msi");
        InstallSetupExe(m_dir.path());
        m_defaultLog = TempFolder() + m_spec.productName + L"_install.log";
    }
    void TearDown() override {
        RemoveProduct(m_spec.productCode);
        RemoveTree(ProgramFilesFolderFor(m_spec.platform) + L"\\" + m_spec.installFolder);
        DeleteFileW(m_defaultLog.c_str());
        for (int n = 1; n <= 3; ++n)
            DeleteFileW(FreshLog(n).c_str());
    }

    std::wstring FreshLog(int n) const {
        return TempFolder() + m_spec.productName + L"_install-" + std::to_wstring(n) + L".log";
    }

    TempDir m_dir;
    PackageSpec m_spec;
    std::wstring m_defaultLog;
};

TEST_F(PlantedFilesTest, HardLinksAtTheDefaultLogAndTheExitFileLeadNowhere) {
    // Files outside TEMP that stand for protected ones, and a user's links to them.
    const std::wstring outside = L"C:\\qz-protected-" + m_spec.productCode.substr(1, 8) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    const std::wstring logTarget = outside + L"system.ini";
    const std::wstring exitTarget = outside + L"hosts";
    WriteFileBytes(logTarget, "[protected]\r\nlog=target\r\n");
    WriteFileBytes(exitTarget, "127.0.0.1 localhost\r\n");
    ASSERT_TRUE(CreateHardLinkW(m_defaultLog.c_str(), logTarget.c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW((m_dir / L"exit.txt").c_str(), exitTarget.c_str(), nullptr));
    ASSERT_EQ(2u, LinksOf(logTarget));

    const SetupRun run =
        RunSetup(m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    const std::string logTargetAfter = ReadFileBytes(logTarget);
    const std::string exitTargetAfter = ReadFileBytes(exitTarget);
    const DWORD logTargetLinks = LinksOf(logTarget);
    const DWORD exitTargetLinks = LinksOf(exitTarget);
    RemoveTree(outside);

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(IsProductRegistered(m_spec.productCode));
    EXPECT_EQ("[protected]\r\nlog=target\r\n", logTargetAfter);
    EXPECT_EQ("127.0.0.1 localhost\r\n", exitTargetAfter);
    EXPECT_EQ(1u, logTargetLinks) << "the planted name was removed";
    EXPECT_EQ(1u, exitTargetLinks);
    // New files, holding the run's lines.
    EXPECT_EQ(1u, LinksOf(m_defaultLog));
    EXPECT_TRUE(EndsWith(LogTail(m_defaultLog), kSuccessLine + kClosingLine))
        << ToUtf8(LogTail(m_defaultLog));
    EXPECT_EQ(1u, LinksOf(m_dir / L"exit.txt"));
    EXPECT_EQ(ExitFileBytes(0, 0, SystemText(0)), ReadFileBytes(m_dir / L"exit.txt"));
}

TEST_F(PlantedFilesTest, ALogNameHeldByAnotherProgramGivesAFreshName) {
    WriteFileBytes(m_defaultLog, "a user's file, held open");
    // Held without leave to delete it: the run cannot remove the name.
    const UniqueFileHandle other(CreateFileW(m_defaultLog.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other.valid());
    const std::wstring notice = L"QZSETUP:BOOTSTRAP:INFO::Log file " + m_defaultLog +
                                L" is held by another program and cannot be replaced. This run logs to " +
                                FreshLog(1) + L".";
    {
        SCOPED_TRACE("unattended");
        const SetupRun run =
            RunSetup(m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());
        EXPECT_TRUE(IsProductRegistered(m_spec.productCode));
        EXPECT_TRUE(EndsWith(LogTail(FreshLog(1)), kSuccessLine + kClosingLine))
            << ToUtf8(LogTail(FreshLog(1)));
        EXPECT_EQ("a user's file, held open", ReadFileBytes(m_defaultLog));
    }
    {
        SCOPED_TRACE("attended: the user is told where the log is");
        ASSERT_TRUE(DeleteFileW(FreshLog(1).c_str()));
        const SetupRun run = RunSetup(m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=INSTALL"});
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(notice + L"\r\n", run.dialogs[0]);
        EXPECT_TRUE(EndsWith(LogTail(FreshLog(1)), kSuccessLine + kClosingLine));
        EXPECT_EQ("a user's file, held open", ReadFileBytes(m_defaultLog));
    }
}

TEST_F(PlantedFilesTest, AnExitFileThatCannotBeWrittenIsSaidInTheLogAndToTheUser) {
    const std::wstring exitFile = m_dir / L"exit.txt";
    WriteFileBytes(exitFile, "held by another program");
    const UniqueFileHandle other(CreateFileW(exitFile.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other.valid());
    // The exit file as it was given.
    const std::wstring line =
        L"QZSETUP:BOOTSTRAP:ERR:32:Exit file exit.txt could not be written.\nError description: " +
        SystemText(ERROR_SHARING_VIOLATION) + L".\r\n";

    // Attended (a mode is given), so the exit file alone does not make it unattended.
    const SetupRun run =
        RunSetup(m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=INSTALL", L"/e", L"exit.txt"});
    EXPECT_EQ(0u, run.exitCode) << "the result stands";
    EXPECT_TRUE(IsProductRegistered(m_spec.productCode));
    EXPECT_EQ("held by another program", ReadFileBytes(exitFile)) << "no fresh name for the exit file";
    EXPECT_TRUE(EndsWith(LogTail(m_defaultLog), kSuccessLine + line + kClosingLine))
        << ToUtf8(LogTail(m_defaultLog));
    ASSERT_EQ(1u, run.dialogs.size());
    // The viewer gives every line end back as CR LF.
    std::wstring shown;
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] == L'\n' && (at == 0 || line[at - 1] != L'\r'))
            shown += L'\r';
        shown += line[at];
    }
    EXPECT_EQ(shown, run.dialogs[0]);
}

// The system's text without its line end, as the run puts it into a message.
std::wstring Trimmed(std::wstring text) {
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    return text;
}

// What a script that reads the exit file would take for success.
const std::string kPlanted = "0\r\n0\r\nplanted";

void Plant(const std::wstring& path, DWORD attributes) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    WriteFileBytes(path, kPlanted);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
}

TEST_F(PlantedFilesTest, APlantedResultWithAnyAttributesNeverReadsAsTheRunsOwn) {
    const std::wstring exitFile = m_dir / L"exit.txt";
    const std::wstring plan = m_dir / L"plan.json";
    const struct {
        const char* what;
        DWORD attributes;
    } cases[] = {
        {"read-only", FILE_ATTRIBUTE_READONLY},
        {"hidden and system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            SCOPED_TRACE("a run that fails");
            Plant(exitFile, c.attributes);
            const SetupRun run =
                RunSetup(m_dir.path(), {L"/f", L"nope.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
            EXPECT_EQ(1u, run.exitCode);
            const std::string result = ReadFileBytes(exitFile);
            EXPECT_EQ(std::string::npos, result.find("planted")) << result;
            EXPECT_NE(0, result.compare(0, 3, "0\r\n")) << result;
        }
        {
            SCOPED_TRACE("a run that succeeds");
            Plant(exitFile, c.attributes);
            Plant(m_defaultLog, c.attributes);
            const SetupRun run = RunSetup(
                m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
            EXPECT_EQ(0u, run.exitCode);
            EXPECT_EQ(ExitFileBytes(0, 0, SystemText(0)), ReadFileBytes(exitFile));
            EXPECT_TRUE(EndsWith(LogTail(m_defaultLog), kSuccessLine + kClosingLine))
                << ToUtf8(LogTail(m_defaultLog));
            EXPECT_EQ(0u, GetFileAttributesW(exitFile.c_str()) & c.attributes);
            RemoveProduct(m_spec.productCode);
        }
        {
            SCOPED_TRACE("a plan");
            Plant(plan, c.attributes);
            const SetupRun run = RunSetup(m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_PLAN=plan.json"});
            EXPECT_EQ(0u, run.exitCode);
            const std::string written = ReadFileBytes(plan);
            EXPECT_EQ(std::string::npos, written.find("planted"));
            EXPECT_EQ('{', written.empty() ? ' ' : written[0]);
        }
    }
}

TEST_F(PlantedFilesTest, AFolderThatCannotBeHeldIsNotUsedForAResult) {
    const UniqueFileHandle holder = HeldForDeletion(m_dir / L"out");
    ASSERT_TRUE(holder.valid());
    const std::wstring reason = SystemText(ERROR_SHARING_VIOLATION);
    {
        SCOPED_TRACE("the exit file: the result stands, the log says why there is no file");
        const SetupRun run = RunSetup(
            m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"out\\exit.txt"});
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_FALSE(PathExists(m_dir / L"out\\exit.txt"));
        EXPECT_TRUE(EndsWith(LogTail(m_defaultLog),
                             kSuccessLine +
                                 L"QZSETUP:BOOTSTRAP:ERR:32:Exit file out\\exit.txt could not be written.\n"
                                 L"Error description: " +
                                 reason + L".\r\n" + kClosingLine))
            << ToUtf8(LogTail(m_defaultLog));
        RemoveProduct(m_spec.productCode);
    }
    {
        SCOPED_TRACE("the plan: a failure with message 152");
        const SetupRun run = RunSetup(
            m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_PLAN=out\\plan.json", L"/e", L"exit.txt"});
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_FALSE(PathExists(m_dir / L"out\\plan.json"));
        EXPECT_EQ(ExitFileBytes(32, 32,
                                L"Failed to write the plan to " + (m_dir / L"out\\plan.json") +
                                    L".\nError description: " + Trimmed(reason)),
                  ReadFileBytes(m_dir / L"exit.txt"));
        EXPECT_FALSE(IsProductRegistered(m_spec.productCode));
    }
}

// The log files of the product's default name in TEMP with a random part.
std::vector<std::wstring> RandomLogs(const std::wstring& defaultLog) {
    std::vector<std::wstring> found;
    const std::wstring stem = defaultLog.substr(0, defaultLog.size() - 4) + L"-";
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((stem + L"????????????????.log").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return found;
    do {
        const std::wstring name = data.cFileName;
        if (name.find_first_not_of(L"0123456789abcdef", name.size() - 20) == name.size() - 4)
            found.push_back(TempFolder() + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

TEST_F(PlantedFilesTest, NoUserCanTakeTheDefaultLogAway) {
    {
        SCOPED_TRACE("a folder at the default log's name");
        ASSERT_TRUE(CreateDirectoryW(m_defaultLog.c_str(), nullptr));
        const SetupRun run =
            RunSetup(m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        RemoveDirectoryW(m_defaultLog.c_str());
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(IsProductRegistered(m_spec.productCode));
        const std::wstring log = LogTail(FreshLog(1));
        EXPECT_TRUE(EndsWith(log, kSuccessLine + kClosingLine)) << ToUtf8(log);
        RemoveProduct(m_spec.productCode);
    }
    {
        SCOPED_TRACE("the name held and every numbered name planted");
        WriteFileBytes(m_defaultLog, "held");
        const UniqueFileHandle other(CreateFileW(m_defaultLog.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(other.valid());
        std::vector<UniqueFileHandle> planted;
        for (int n = 1; n <= 99; ++n) {
            WriteFileBytes(FreshLog(n), "planted");
            planted.emplace_back(CreateFileW(FreshLog(n).c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        // Attended: the user is told where the log is.
        const SetupRun run = RunSetup(m_dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=INSTALL"});
        planted.clear();
        for (int n = 4; n <= 99; ++n)
            DeleteFileW(FreshLog(n).c_str());
        const std::vector<std::wstring> logs = RandomLogs(m_defaultLog);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(IsProductRegistered(m_spec.productCode));
        ASSERT_EQ(1u, logs.size());
        const std::wstring log = LogTail(logs[0]);
        for (const auto& path : logs)
            DeleteFileW(path.c_str());
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(L"QZSETUP:BOOTSTRAP:INFO::Log file " + m_defaultLog +
                      L" is held by another program and cannot be replaced. This run logs to " + logs[0] +
                      L".\r\n",
                  run.dialogs[0]);
        EXPECT_TRUE(EndsWith(log, kSuccessLine + kClosingLine)) << ToUtf8(log);
        EXPECT_EQ("held", ReadFileBytes(m_defaultLog));
    }
}

TEST(DefaultLogName, AProductNameWithSeparatorsKeepsTheLogInTemp) {
    TempDir dir;
    InstallSetupExe(dir.path());
    PackageSpec built;
    built.productCode = NewGuid();
    built.productName = L"AC/DC: Agent..";
    built.installFolder = L"QZ Log Name " + built.productCode.substr(1, 8);
    BuildPackage(built, dir / L"package.msi");
    const std::wstring log = TempFolder() + L"AC_DC_ Agent___install.log";
    DeleteFileW(log.c_str());

    const SetupRun run =
        RunSetup(dir.path(), {L"/f", L"package.msi", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    const bool registered = IsProductRegistered(built.productCode);
    RemoveProduct(built.productCode);
    RemoveTree(ProgramFilesFolderFor(built.platform) + L"\\" + built.installFolder);

    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(registered);
    EXPECT_TRUE(EndsWith(LogTail(log), kSuccessLine + kClosingLine)) << ToUtf8(LogTail(log));
    EXPECT_FALSE(PathExists(TempFolder() + L"AC")) << "no folder from the name";
    DeleteFileW(log.c_str());
}

} // namespace
