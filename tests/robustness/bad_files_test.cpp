// Packages, transforms and help files that are not what they claim to be,
// handed to the real qz-setup.exe.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "support/package_builder.h"
#include "support/platform_deviations.h"
#include "support/robustness.h"
#include "support/test_env.h"
#include "support/transform_writer.h"

using namespace qztest;

namespace {

const DWORD kBoundMs = 60000;

PackageSpec RealPackage() {
    PackageSpec sample;
    sample.productCode = NewGuid();
    sample.productName = L"QZ Robust " + sample.productCode.substr(1, 8);
    sample.installFolder = sample.productName;
    return sample;
}

void ClearTemplate(const std::wstring& package) {
    MSIHANDLE summary = 0;
    ASSERT_EQ(MsiGetSummaryInformationW(0, package.c_str(), 20, &summary), 0u);
    EXPECT_EQ(MsiSummaryInfoSetPropertyW(summary, 7 /* PID_TEMPLATE */, 30 /* VT_LPSTR */, 0, nullptr, L""),
              0u);
    EXPECT_EQ(MsiSummaryInfoPersist(summary), 0u);
    MsiCloseHandle(summary);
}

// The exit file's code (second line).
int ExitFileCode(const std::string& bytes) {
    const std::size_t first = bytes.find("\r\n");
    return first == std::string::npos ? -1 : std::atoi(bytes.c_str() + first + 2);
}

struct Outcome {
    GuardedRun run;
    std::string exitFile;
    BootstrapLog log;
};

class BadFilesTest : public ::testing::Test {
protected:
    Outcome Run(const std::vector<std::wstring>& arguments) {
        DeleteFileW((dir / L"exit.txt").c_str());
        Outcome outcome;
        outcome.run = RunSetupGuarded(dir.path(), arguments);
        if (PathExists(dir / L"exit.txt"))
            outcome.exitFile = ReadFileBytes(dir / L"exit.txt");
        outcome.log = ReadBootstrapLog(dir / L"run.log");
        EXPECT_FALSE(outcome.run.Crashed()) << outcome.run.Describe();
        EXPECT_FALSE(outcome.run.timedOut);
        EXPECT_LT(outcome.run.elapsedMs, kBoundMs);
        return outcome;
    }
    TempDir dir;
};

// Exit file of a failure with `code` and its system text.
std::string FailureExitFile(int code) {
    return ExitFileText(code, code, SystemText(static_cast<DWORD>(code)));
}

} // namespace

TEST_F(BadFilesTest, PackagesThatAreNotPackages) {
    PackageSpec sample = RealPackage();
    BuildPackage(sample, dir / L"real.msi");
    const std::string real = ReadFileBytes(dir / L"real.msi");
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"a zero-byte package", ""},
        {"a truncated package", real.substr(0, real.size() / 2)},
        {"a text file named .msi", "This is not an installer database.\r\n"},
    };
    std::vector<std::string> wineFaults;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir / L"package.msi", c.bytes);
        DeleteFileW((dir / L"exit.txt").c_str());
        const GuardedRun run = RunSetupGuarded(dir.path(), {L"/f", L"package.msi", L"/l", L"run.log",
                                                            L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_FALSE(run.timedOut);
        EXPECT_LT(run.elapsedMs, kBoundMs);
        EXPECT_TRUE(run.unexpectedWindows.empty()) << run.Describe();
        if (Deviates(Deviation::TruncatedPackageCrash) && run.exitCode == 0xC0000005u &&
            !run.crashReports.empty()) {
            // Wine's msi.dll, not the bootstrapper: MsiOpenDatabaseW on a
            // file whose storage opens but lacks the string pool calls
            // through a null pointer on its way out.
            wineFaults.push_back(c.name);
            continue;
        }
        EXPECT_FALSE(run.Crashed()) << run.Describe();
        const std::string exitFile = PathExists(dir / L"exit.txt") ? ReadFileBytes(dir / L"exit.txt") : "";
        // The package is opened to plan the run, before the log opens: the
        // installer's error ends the run there.
        EXPECT_EQ(run.exitCode, 1u);
        const int code = ExitFileCode(exitFile);
        EXPECT_TRUE(code == ERROR_INSTALL_PACKAGE_INVALID || code == ERROR_OPEN_FAILED ||
                    code == ERROR_BAD_FORMAT || code == ERROR_INSTALL_PACKAGE_OPEN_FAILED ||
                    code == ERROR_FUNCTION_FAILED)
            << exitFile;
        EXPECT_EQ(exitFile, FailureExitFile(code));
        EXPECT_FALSE(PathExists(dir / L"run.log"));
    }
    RemoveProduct(sample.productCode);
    if (!wineFaults.empty()) {
        std::string names;
        for (const auto& name : wineFaults)
            names += " [" + name + "]";
        GTEST_SKIP() << Describe(Deviation::TruncatedPackageCrash)
                     << " (reported by the crash sink, no dialog):" << names << "; the other rows held";
    }
}

TEST_F(BadFilesTest, DatabasesWithoutTheirKeyEntries) {
    const struct {
        const char* name;
        const wchar_t* query; // null: the summary's Template is cleared instead
        bool installs;        // the installer still installs it
    } cases[] = {
        {"no Property table", L"DROP TABLE `Property`", false},
        // The product name becomes the package name: a package without one
        // is refused before the log opens (no row to read: invalid handle).
        {"no ProductName", L"DELETE FROM `Property` WHERE `Property`='ProductName'", false},
        {"no Template", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PackageSpec sample = RealPackage();
        const std::wstring package = dir / L"package.msi";
        BuildPackage(sample, package);
        if (c.query)
            ASSERT_NO_THROW(ChangePackage(package, c.query));
        else
            ClearTemplate(package);
        DeleteFileW((dir / L"run.log").c_str());
        const Outcome outcome =
            Run({L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        const int code = ExitFileCode(outcome.exitFile);
        // Truthful: success exactly when the product got registered.
        EXPECT_EQ(outcome.run.exitCode == 0, IsProductRegistered(sample.productCode)) << outcome.exitFile;
        if (c.installs) {
            EXPECT_EQ(outcome.run.exitCode, 0u) << outcome.exitFile;
            EXPECT_EQ(CheckLogEnd(outcome.log,
                                  kOpeningLine + BannerLine(package, sample.productName, sample.version),
                                  ResultLogLine(0, SystemText(0)) + kClosingLine),
                      "");
        } else {
            EXPECT_EQ(outcome.run.exitCode, 1u);
            EXPECT_NE(code, 0);
            // The installer's code, with the package and the property named.
            std::wstring reason = SystemText(static_cast<DWORD>(code));
            while (!reason.empty() && (reason.back() == L'\r' || reason.back() == L'\n'))
                reason.pop_back();
            EXPECT_EQ(
                outcome.exitFile,
                ExitFileText(code, code,
                             L"Package " + package +
                                 L" has no ProductName property that could be read.\nError description: " +
                                 reason));
            EXPECT_FALSE(outcome.log.exists) << "refused while the package is located";
        }
        RemoveProduct(sample.productCode);
        RemoveTree(ProgramFilesFolderFor(L"Intel") + L"\\" + sample.installFolder);
    }
}

TEST_F(BadFilesTest, LongAndCjkPackagePaths) {
    PackageSpec sample = RealPackage();
    sample.errors = {{25000, L"Error [1]. reached"}};
    sample.failWithError = 25000;
    const std::wstring base = dir.path();
    auto folderFor = [&](std::size_t total) {
        // dir + folder + "\package.msi" is `total` characters long.
        const std::size_t fixed = base.size() + std::wstring(L"\\package.msi").size();
        return std::wstring(total - fixed, L'p');
    };
    const struct {
        const char* name;
        std::wstring folder;
        bool reachesInstaller;
    } cases[] = {
        {"a path of 259 characters", folderFor(259), true},
        {"a path of 300 characters", folderFor(300), false},
        {"a path with CJK characters", L"\x5B89\x88C5\x7A0B\x5E8F\xD83D\xDE00", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring folder = base + c.folder;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        const std::wstring package = folder + L"\\package.msi";
        // The package builder keeps to short paths: build, then move.
        BuildPackage(sample, dir / L"built.msi");
        ASSERT_TRUE(MoveFileExW((dir / L"built.msi").c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING))
            << GetLastError();
        DeleteFileW((dir / L"run.log").c_str());
        const Outcome outcome =
            Run({L"/f", package, L"/l", L"run.log", L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_EQ(outcome.run.exitCode, 1u);
        const int code = ExitFileCode(outcome.exitFile);
        std::printf("[ OUTCOME ] %s: exit code %lu, result %d\n", c.name,
                    static_cast<unsigned long>(outcome.run.exitCode), code);
        if (c.reachesInstaller || code == 25000) {
            EXPECT_EQ(outcome.exitFile, "25000\r\n25000\r\nError 25000. reached");
            EXPECT_EQ(CheckLogEnd(outcome.log,
                                  kOpeningLine + BannerLine(package, sample.productName, sample.version),
                                  ResultLogLine(25000, L"Error 25000. reached") + kClosingLine),
                      "");
        } else {
            // Too long for the installer: a clear error, before or after the log opened.
            EXPECT_NE(code, 0) << outcome.exitFile;
            EXPECT_NE(outcome.exitFile.find("\r\n", outcome.exitFile.find("\r\n") + 2), std::string::npos);
        }
        EXPECT_FALSE(IsProductRegistered(sample.productCode));
        DeleteFileW(package.c_str());
        RemoveDirectoryW(folder.c_str());
    }
}

TEST_F(BadFilesTest, TransformsThatAreNotTransforms) {
    // An attended first installation reads every transform in the folder to
    // find the languages on offer; one it cannot read ends the run with the
    // installer's error before anything is installed, and says which file it was.
    PackageSpec sample = RealPackage();
    BuildPackage(sample, dir / L"package.msi");
    WriteLanguageTransform(dir / L"model.mst", 1033);
    const std::string transform = ReadFileBytes(dir / L"model.mst");
    DeleteFileW((dir / L"model.mst").c_str());
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"a zero-byte transform", ""},
        {"a truncated transform", transform.substr(0, transform.size() / 2)},
        {"a package named .mst", ReadFileBytes(dir / L"package.msi")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir / L"1033.mst", c.bytes);
        const Outcome outcome =
            Run({L"/f", L"package.msi", L"/l", L"run.log", L"QZ_SETUP_MODE=INSTALL", L"/e", L"exit.txt"});
        const DWORD notATransform = PlatformValue(Deviation::NonTransformApplyError);
        std::wstring description = SystemText(notATransform);
        while (!description.empty() && (description.back() == L'\r' || description.back() == L'\n'))
            description.pop_back();
        const std::wstring first = L"Transform " + (dir / L"1033.mst") + L" cannot be used with package " +
                                   (dir / L"package.msi") + L", so nothing is installed.";
        const std::wstring text = first + L"\nError description: " + description;
        EXPECT_EQ(outcome.run.exitCode, 1u);
        EXPECT_EQ(outcome.exitFile, ExitFileText(notATransform, notATransform, text));
        // Attended: the result line shows in the dialog, after the line of the
        // failed read (the rich edit control gives CR line ends).
        ASSERT_EQ(outcome.run.dialogs.size(), 1u);
        const std::wstring& shown = outcome.run.dialogs[0];
        const std::wstring result =
            ResultLogLine(notATransform, first + L"\r\nError description: " + description);
        ASSERT_GE(shown.size(), result.size());
        EXPECT_EQ(shown.substr(shown.size() - result.size()), result);
        EXPECT_EQ(0u, shown.find(L"QZSETUP:BOOTSTRAP:ERR:" + std::to_wstring(notATransform) +
                                 L":Error occured at  Fnc : LoadLangTransforms; Line : 26; "))
            << Describe(Deviation::NonTransformApplyError);
        EXPECT_FALSE(IsProductRegistered(sample.productCode));
        EXPECT_FALSE(outcome.log.exists);
    }
    RemoveProduct(sample.productCode);
}

TEST_F(BadFilesTest, HelpFiles) {
    // Help still locates the package first; nothing is installed.
    BuildPackage(RealPackage(), dir / L"package.msi");
    std::string tenMegabytes;
    while (tenMegabytes.size() < (10u << 20))
        tenMegabytes += "Help text of a help file that is ten megabytes long, line after line.\r\n";
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"a 10 MB help file", tenMegabytes},
        {"invalid UTF-8", "Help \xC3\x28 \xFF\xFE text \xE2\x82"},
        {"a UTF-16 help file", Utf16LeBytes(L"\xFEFFHelp text in UTF-16\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(dir / L"help.txt", c.bytes);
        const Outcome outcome = Run({L"/f", L"package.msi", L"/h", L"/H", L"help.txt",
                                     L"QZ_SETUP_MODE=UNATTENDED", L"/e", L"exit.txt"});
        EXPECT_EQ(outcome.run.exitCode, 0u);
        EXPECT_TRUE(outcome.run.dialogs.empty());
        EXPECT_EQ(outcome.exitFile, ExitFileText(0, 0, SystemText(0)));
        EXPECT_FALSE(outcome.log.exists) << "help never opens the log";
    }
}
