// Where the platform the tests run on departs from what Windows documents.
// The suite runs under Wine on Linux and, from the test kit, on Windows
// itself; a test that depends on one of the known departures names its row
// here and expects Windows' value on Windows and Wine's value under Wine.
// Each row says where the fact was established (a section of the platform
// notes kept beside the project).
#pragma once
#include <windows.h>

#include <string>

namespace qztest {

// Whether the tests run under Wine (ntdll exports wine_get_version there).
bool UnderWine();
// Wine's version ("8.0"), empty on Windows.
std::string WineVersion();

enum class Deviation {
    MissingPackageExitCode,  // msiexec /i of a package that does not exist
    DamagedPackageExitCode,  // msiexec /i of a file that is no package
    NonPackageOpenError,     // MsiOpenDatabaseW of a file that is no package
    TruncatedPackageCrash,   // MsiOpenDatabaseW of a storage without its string pool
    RemovingAbsentProduct,   // removing a product that is not installed
    InstallerLogAppend,      // the installer's log, written into a file that holds ours
    InstallerMutex,          // _MSIExecute held while an installation executes
    DoubledQuoteInValue,     // a doubled quote inside a quoted property value
    MissingDriveError,       // a folder made on a drive that does not exist
    LinksAndJunctions,       // symbolic links and junctions
    TrustOfUntrustedRoot,    // WinVerifyTrust on a file signed by an untrusted root
    RichEditUnicodeRtf,      // RTF handed to a rich edit control as UTF-16
    Error160Text,            // the system text of error 160
    InstallerShareMode,      // a package another process holds open for writing
    ElevatedToken,           // every process's token
    ErrorTableWithoutRowOne, // an installer error whose Error table lacks row 1
    NonTransformApplyError,  // MsiDatabaseApplyTransformW of a file that is no transform
};

struct DeviationRow {
    Deviation id;
    const char* subject;
    const char* windows; // what Windows documents (or does)
    const char* wine;    // what Wine 8.0 does
    const char* note;    // where the fact was established
    DWORD windowsValue;  // 0 where the row is no number
    DWORD wineValue;
};

const DeviationRow& Row(Deviation id);
// The row's value for the platform the tests run on.
DWORD PlatformValue(Deviation id);
// Whether the platform the tests run on departs from Windows in this row.
bool Deviates(Deviation id);
// One line for a message or a skip: the subject, what Windows does, what Wine does, the note.
std::string Describe(Deviation id);

// What a test needs from the Linux host the suite runs on under Wine, and
// that no Windows machine has; such a test is skipped on Windows.
enum class LinuxHostNeed {
    WineLoaderOrPrefix, // Wine's loader, its prefix or its registry settings
    MountedDrive,       // a small file system or a read-only mount made as root
};
std::string Reason(LinuxHostNeed need);

} // namespace qztest

// Skips the current test on Windows, naming what it needs from the Linux host.
#define QZ_SKIP_UNLESS_LINUX_HOST(need)                                                                      \
    do {                                                                                                     \
        if (!::qztest::UnderWine())                                                                          \
            GTEST_SKIP() << "needs the Linux host: " << ::qztest::Reason(need);                              \
    } while (false)
