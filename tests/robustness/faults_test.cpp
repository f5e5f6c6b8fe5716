// Faults around a run of the real qz-setup.exe: places it cannot write, a
// missing environment, a full disk, a package that vanishes, a busy
// installer and a second bootstrapper at the same time.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/package_builder.h"
#include "support/platform_deviations.h"
#include "support/robustness.h"
#include "support/setup_runner.h"
#include "support/test_env.h"
#include "system/win_owners.h"
#include "support/transform_writer.h"

using namespace qztest;

namespace {

const DWORD kBoundMs = 90000;

PackageSpec NewSpec(bool failing) {
    PackageSpec sample;
    sample.productCode = NewGuid();
    sample.productName = L"QZ Robust " + sample.productCode.substr(1, 8);
    sample.installFolder = sample.productName;
    if (failing) {
        sample.errors = {{25000, L"Error [1]. failed on purpose"}};
        sample.failWithError = 25000;
    }
    return sample;
}

int ExitFileCode(const std::string& bytes) {
    const std::size_t first = bytes.find("\r\n");
    return first == std::string::npos ? -1 : std::atoi(bytes.c_str() + first + 2);
}

// An exit file as read back: the normalised result, the result and its text
// (UTF-8, each CR LF read as the LF it was written from).
struct ExitFile {
    bool complete = false;
    int normalised = -1;
    int code = -1;
    std::wstring text;
};

ExitFile ParseExitFile(const std::string& bytes) {
    ExitFile parsed;
    const std::size_t first = bytes.find("\r\n");
    const std::size_t second = first == std::string::npos ? first : bytes.find("\r\n", first + 2);
    if (second == std::string::npos)
        return parsed;
    parsed.complete = true;
    parsed.normalised = std::atoi(bytes.c_str());
    parsed.code = std::atoi(bytes.c_str() + first + 2);
    std::string text = bytes.substr(second + 2);
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 1))
        text.erase(at, 1);
    parsed.text = FromUtf8(text);
    return parsed;
}

// 0 for success and for the two reboot results, otherwise the result itself.
int NormalisedByTheRules(int code) {
    return code == 0 || code == ERROR_SUCCESS_REBOOT_INITIATED || code == ERROR_SUCCESS_REBOOT_REQUIRED
               ? 0
               : code;
}

void ExpectCleanEnd(const GuardedRun& run) {
    EXPECT_FALSE(run.Crashed()) << run.Describe();
    EXPECT_FALSE(run.timedOut) << run.Describe();
    EXPECT_LT(run.elapsedMs, kBoundMs);
}

// Removes the product and its folder however the test ends.
class ProductGuard {
public:
    explicit ProductGuard(const PackageSpec& sample) : m_spec(sample) {}
    ~ProductGuard() {
        RemoveProduct(m_spec.productCode);
        RemoveTree(ProgramFilesFolderFor(m_spec.platform) + L"\\" + m_spec.installFolder);
    }
    ProductGuard(const ProductGuard&) = delete;
    ProductGuard& operator=(const ProductGuard&) = delete;

private:
    PackageSpec m_spec;
};

// Removes every file of a directory (not the directory).
void EmptyDirectory(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW((dir + data.cFileName).c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

} // namespace

TEST(FaultTest, LogPathsThatCannotBeWritten) {
    TempDir dir;
    const PackageSpec sample = NewSpec(true);
    BuildPackage(sample, dir / L"package.msi");
    const PreparedPlace readOnly = ReadOnlyPlace();
    const struct {
        const char* name;
        std::wstring log;
        bool needsReadOnly;
        bool openFailure; // else the log's folder cannot be made: a Windows error
    } cases[] = {
        {"a log in a read-only directory", readOnly.path + L"run.log", true, true},
        {"a log in a new folder of a read-only directory", readOnly.path + L"new\\run.log", true, false},
        {"a log on a drive that does not exist", L"Q:\\no\\such\\run.log", false, false},
        {"a log in a folder that another program holds for deletion", dir / L"held\\run.log", false, true},
        {"a log path of 32,000 characters",
         dir / (std::wstring(250, L'd') + L"\\" + std::wstring(31000, L'l')), false, true},
    };
    // Open with leave to delete it: the run cannot hold the folder, and does
    // not use it unheld.
    const UniqueFileHandle holder = HeldForDeletion(dir / L"held");
    ASSERT_TRUE(holder.valid());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsReadOnly && !readOnly.available) {
            std::printf("[ SKIPPED CASE ] %s: %s\n", c.name, ToUtf8(readOnly.why).c_str());
            continue;
        }
        DeleteFileW((dir / L"exit.txt").c_str());
        const GuardedRun run = RunSetupGuarded(dir.path(), {L"/f", L"package.msi", L"/l", c.log,
                                                            L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        ExpectCleanEnd(run);
        EXPECT_EQ(run.exitCode, 1u);
        const std::string exitFile = ReadFileBytes(dir / L"exit.txt");
        if (c.openFailure) {
            EXPECT_EQ(exitFile, "1\r\n1\r\nFailed to open log file.");
        } else {
            const int code = ExitFileCode(exitFile);
            std::printf("[ OUTCOME ] %s: result %d\n", c.name, code);
            EXPECT_TRUE(code > 1) << exitFile;
            EXPECT_EQ(exitFile, ExitFileText(code, code, SystemText(static_cast<DWORD>(code))));
        }
        EXPECT_FALSE(PathExists(c.log) && !(GetFileAttributesW(c.log.c_str()) & FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_FALSE(IsProductRegistered(sample.productCode)) << "nothing is installed without a log";
    }
}

TEST(FaultTest, ExitFileInAReadOnlyFolder) {
    const PreparedPlace readOnly = ReadOnlyPlace();
    if (!readOnly.available)
        GTEST_SKIP() << "no read-only place: " << ToUtf8(readOnly.why);
    TempDir dir;
    const PackageSpec sample = NewSpec(true);
    BuildPackage(sample, dir / L"package.msi");
    const std::wstring exitFile = readOnly.path + L"exit.txt";
    const GuardedRun run = RunSetupGuarded(
        dir.path(), {L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", exitFile});
    ExpectCleanEnd(run);
    // The exit file cannot be written; the exit code and the log still tell
    // the truth, and the log says that the exit file is missing.
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_FALSE(PathExists(exitFile));
    const std::wstring missing = L"QZSETUP:BOOTSTRAP:ERR:5:Exit file " + exitFile +
                                 L" could not be written.\nError description: " +
                                 SystemText(ERROR_ACCESS_DENIED) + L".\r\n";
    EXPECT_EQ(CheckLogEnd(ReadBootstrapLog(dir / L"run.log"),
                          kOpeningLine + BannerLine(dir / L"package.msi", sample.productName, sample.version),
                          ResultLogLine(25000, L"Error 25000. failed on purpose") + missing + kClosingLine),
              "");
}

TEST(FaultTest, ExitFileOnAFullDisk) {
    // The exit file is whole or absent: a file that could not be written
    // whole is removed again, and the result stays the installer's.
    const PreparedPlace drive = FullDiskDrive();
    if (!drive.available)
        GTEST_SKIP() << "no small drive: " << ToUtf8(drive.why);
    TempDir dir;
    const PackageSpec sample = NewSpec(false);
    const ProductGuard guard(sample);
    BuildPackage(sample, dir / L"package.msi");
    const std::wstring exitFile = drive.path + L"exit.txt";
    // Full: one page left, then taken by a file of its own.
    ASSERT_TRUE(FillDriveLeaving(drive, 1));
    WriteFileBytes(drive.path + L"last-page", std::string(4096, 'f'));
    const GuardedRun run = RunSetupGuarded(
        dir.path(), {L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", exitFile});
    ExpectCleanEnd(run);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(IsProductRegistered(sample.productCode));
    if (PathExists(exitFile)) {
        EXPECT_EQ(ReadFileBytes(exitFile), ExitFileText(0, 0, SystemText(0)));
    } else {
        // The bootstrapper's lines are UTF-16 after the installer's own.
        const std::wstring said = L"Exit file " + exitFile + L" could not be written.";
        const std::string saidBytes(reinterpret_cast<const char*>(said.data()),
                                    said.size() * sizeof(wchar_t));
        EXPECT_NE(ReadBootstrapLog(dir / L"run.log").bytes.find(saidBytes), std::string::npos);
    }
    DeleteFileW(exitFile.c_str());
    DeleteFileW((drive.path + L"last-page").c_str());
    DeleteFileW((drive.path + L"filler").c_str());
}

TEST(FaultTest, EnvironmentWithoutTempAndSystemFolders) {
    // An attended first installation: the transform scan needs a temporary
    // database, the installer its system folders.
    TempDir dir;
    const PackageSpec sample = NewSpec(false);
    const ProductGuard guard(sample);
    BuildPackage(sample, dir / L"package.msi");
    WriteLanguageTransform(dir / L"1049.mst", 1049); // not the user's language: no dialog
    GuardedOptions options;
    options.process.unsetEnv = {L"TEMP", L"TMP", L"SystemRoot", L"SystemDrive"};
    const GuardedRun run = RunSetupGuarded(
        dir.path(), {L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=INSTALL", L"/e", L"exit.txt"},
        options);
    ExpectCleanEnd(run);
    const std::string exitFile = ReadFileBytes(dir / L"exit.txt");
    EXPECT_EQ(run.exitCode == 0, IsProductRegistered(sample.productCode)) << exitFile;
    EXPECT_EQ(run.exitCode, 0u) << exitFile;
    EXPECT_EQ(exitFile, ExitFileText(0, 0, SystemText(0)));
    EXPECT_EQ(
        CheckLogEnd(ReadBootstrapLog(dir / L"run.log"),
                    kOpeningLine +
                        LogLine(L"INFO", L"",
                                L"Found \"" + dir.path() + L"1049.mst\" language transfrom with 1049 id.") +
                        BannerLine(dir / L"package.msi", sample.productName, sample.version),
                    ResultLogLine(0, SystemText(0)) + kClosingLine),
        "");
}

TEST(FaultTest, LogOnAFullDisk) {
    const PreparedPlace drive = FullDiskDrive();
    if (!drive.available)
        GTEST_SKIP() << "no small drive: " << ToUtf8(drive.why);
    // A package without a product version stops the run before the installer
    // call, so the whole log is the bootstrapper's; forty transforms of
    // another language make it longer than the room left on the drive.
    TempDir dir;
    PackageSpec sample = NewSpec(false);
    BuildPackage(sample, dir / L"package.msi");
    ASSERT_NO_THROW(
        ChangePackage(dir / L"package.msi", L"DELETE FROM `Property` WHERE `Property`='ProductVersion'"));
    WriteLanguageTransform(dir / L"1049.mst", 1049);
    const std::string transform = ReadFileBytes(dir / L"1049.mst");
    for (int i = 0; i < 40; ++i)
        WriteFileBytes(dir / (L"lang" + std::to_wstring(i) + L".mst"), transform);
    const std::vector<std::wstring> common = {L"/f", L"package.msi", L"QZ_SETUP_MODE=INSTALL", L"/e",
                                              L"exit.txt"};

    std::vector<std::wstring> arguments = common;
    arguments.insert(arguments.end(), {L"/l", L"reference.log"});
    const GuardedRun reference = RunSetupGuarded(dir.path(), arguments);
    ExpectCleanEnd(reference);
    const std::string referenceExit = ReadFileBytes(dir / L"exit.txt");
    const std::string referenceLog = ReadFileBytes(dir / L"reference.log");
    ASSERT_GT(referenceLog.size(), 8192u);

    // Fill the drive, then free one page.
    EmptyDirectory(drive.path);
    {
        HANDLE filler = CreateFileW((drive.path + L"filler").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(filler, INVALID_HANDLE_VALUE);
        const std::string page(4096, 'f');
        DWORD written = 0;
        while (WriteFile(filler, page.data(), static_cast<DWORD>(page.size()), &written, nullptr) &&
               written != 0) {
        }
        CloseHandle(filler);
        WriteFileBytes(drive.path + L"room", std::string());
    }
    HANDLE probe = CreateFileW((drive.path + L"room").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const std::string byte(1, 'x');
    const bool full = !WriteFile(probe, byte.data(), 1, &written, nullptr) || written == 0;
    CloseHandle(probe);
    DeleteFileW((drive.path + L"room").c_str());
    ASSERT_TRUE(full) << "the drive could not be filled";
    // Give back one page of the filler.
    {
        HANDLE filler = CreateFileW((drive.path + L"filler").c_str(), GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER size{};
        GetFileSizeEx(filler, &size);
        size.QuadPart -= 4096;
        SetFilePointerEx(filler, size, nullptr, FILE_BEGIN);
        SetEndOfFile(filler);
        CloseHandle(filler);
    }

    DeleteFileW((dir / L"exit.txt").c_str());
    arguments = common;
    arguments.insert(arguments.end(), {L"/l", drive.path + L"run.log"});
    const GuardedRun run = RunSetupGuarded(dir.path(), arguments);
    ExpectCleanEnd(run);
    // The same clear result as with room to spare ...
    EXPECT_EQ(run.exitCode, reference.exitCode);
    EXPECT_EQ(ReadFileBytes(dir / L"exit.txt"), referenceExit);
    // ... and what reached the disk is the start of the same log, readable.
    const std::string log = ReadFileBytes(drive.path + L"run.log");
    EXPECT_GT(log.size(), 0u);
    EXPECT_LT(log.size(), referenceLog.size());
    EXPECT_EQ(log, referenceLog.substr(0, log.size())) << "what was written is the start of the log";
    EmptyDirectory(drive.path);
}

TEST(FaultTest, PackageRemovedWhenTheLogOpens) {
    TempDir dir;
    const PackageSpec sample = NewSpec(false);
    const ProductGuard guard(sample);
    BuildPackage(sample, dir / L"package.msi");
    const std::wstring package = dir / L"package.msi";
    const std::wstring logPath = dir / L"run.log";
    std::atomic<bool> deleted{false};
    GuardedOptions options;
    std::thread remover;
    options.onStarted = [&](const RunningProcess& process) {
        const HANDLE handle = process.handle();
        remover = std::thread([&, handle] {
            while (WaitForSingleObject(handle, 0) == WAIT_TIMEOUT) {
                if (PathExists(logPath) && DeleteFileW(package.c_str())) {
                    deleted = true;
                    return;
                }
                Sleep(1);
            }
        });
    };
    const GuardedRun run = RunSetupGuarded(
        dir.path(),
        {L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"}, options);
    remover.join();
    ExpectCleanEnd(run);
    const std::string exitFile = ReadFileBytes(dir / L"exit.txt");
    const bool registered = IsProductRegistered(sample.productCode);
    std::printf("[ OUTCOME ] package %s while the run went on; exit code %lu; product %s\n",
                deleted ? "deleted" : "could not be deleted", static_cast<unsigned long>(run.exitCode),
                registered ? "installed" : "not installed");
    // The true outcomes: the read that found the package gone fails the run
    // with the installer's or the system's error, and nothing is installed;
    // or the installer already had what it needed and the product is whole.
    EXPECT_EQ(run.exitCode == 0, registered) << exitFile;
    const int code = ExitFileCode(exitFile);
    EXPECT_EQ(code == 0, run.exitCode == 0) << exitFile;
    if (!deleted) {
        EXPECT_EQ(run.exitCode, 0u) << "the package stayed, so the installation must succeed";
    }
    const BootstrapLog log = ReadBootstrapLog(logPath);
    ASSERT_TRUE(log.exists);
    const std::string tail = Utf16LeBytes(kClosingLine);
    EXPECT_EQ(log.bytes.substr(log.bytes.size() - std::min(log.bytes.size(), tail.size())), tail);
}

TEST(FaultTest, InstallerBusyWithAnotherInstallation) {
    TempDir dir;
    const PackageSpec sample = NewSpec(false);
    const ProductGuard guard(sample);
    BuildPackage(sample, dir / L"package.msi");
    // What Windows Installer holds while an installation runs.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute");
    ASSERT_NE(mutex, nullptr);
    const GuardedRun run = RunSetupGuarded(dir.path(), {L"/f", L"package.msi", L"/l", L"run.log",
                                                        L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    ExpectCleanEnd(run);
    const std::string exitFile = ReadFileBytes(dir / L"exit.txt");
    const bool registered = IsProductRegistered(sample.productCode);
    EXPECT_EQ(run.exitCode == 0, registered) << exitFile;
    if (Deviates(Deviation::InstallerMutex) && run.exitCode == 0 && registered)
        GTEST_SKIP() << Describe(Deviation::InstallerMutex)
                     << "; with it held by another process the installation went ahead (exit code 0, product "
                        "installed, exit file "
                     << exitFile.substr(0, exitFile.find("\r\n")) << ")";
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(exitFile, ExitFileText(1618, 1618, SystemText(1618)));
    EXPECT_FALSE(registered);
    EXPECT_FALSE(
        PathExists(ProgramFilesFolderFor(sample.platform) + L"\\" + sample.installFolder + L"\\readme.txt"));
}

TEST(FaultTest, TwoBootstrappersAtOnce) {
    // Wine's installer takes no _MSIExecute lock, so the two installations
    // really run at once and may end in many ways: a first installation, a
    // repair, a reboot request, "another installation is running", the
    // installer's own failures, a sharing violation on the package. Whatever
    // each run's result, it reports it by the rules, ends in time and does
    // not crash.
    TempDir dir;
    const PackageSpec sample = NewSpec(false);
    const ProductGuard guard(sample);
    BuildPackage(sample, dir / L"package.msi");
    InstallSetupExe(dir.path());
    ProcessOptions options;
    options.workingDir = dir.path();
    std::vector<std::unique_ptr<RunningProcess>> runs;
    for (int i = 0; i < 2; ++i) {
        const std::wstring n = std::to_wstring(i);
        runs.emplace_back(new RunningProcess(
            dir / L"qz-setup.exe",
            L"/f package.msi /l run" + n + L".log QZ_SETUP_MODE=UNATTENDED /e exit" + n + L".txt", options));
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::wstring n = std::to_wstring(i);
        const ProcessResult result = runs[static_cast<std::size_t>(i)]->Wait(kBoundMs);
        EXPECT_FALSE(result.timedOut);
        EXPECT_FALSE(IsCrashExitCode(result.exitCode)) << result.exitCode;
        const std::string exitFile = ReadFileBytes(dir / (L"exit" + n + L".txt"));
        const ExitFile written = ParseExitFile(exitFile);
        std::printf("[ OUTCOME ] bootstrapper %d: exit code %lu, result %d\n", i,
                    static_cast<unsigned long>(result.exitCode), written.code);
        ASSERT_TRUE(written.complete) << "no exit file, or not a whole one: " << exitFile;
        // The exit file's first line and the exit code both follow from the result.
        EXPECT_EQ(written.normalised, NormalisedByTheRules(written.code)) << exitFile;
        EXPECT_EQ(result.exitCode, written.normalised == 0 ? 0u : 1u) << exitFile;
        EXPECT_FALSE(written.text.empty()) << exitFile;
        // The log ends with the same result, then the closing line (what the
        // installer wrote over before them depends on the race).
        const std::string tail = Utf16LeBytes(ResultLogLine(written.code, written.text) + kClosingLine);
        const std::string log = ReadFileBytes(dir / (L"run" + n + L".log"));
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail);
    }
    std::printf("[ OUTCOME ] product %s\n",
                IsProductRegistered(sample.productCode) ? "registered" : "not registered");
}
