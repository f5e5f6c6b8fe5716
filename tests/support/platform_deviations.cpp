#include "support/platform_deviations.h"

#include <stdexcept>

namespace qztest {
namespace {

const char kInstallerNotes[] = "platform notes: the installer under Wine";
const char kBuildNotes[] = "platform notes: found while building trust, the plan and the NSIS peer";
const char kLinkNotes[] = "platform notes: links under Wine 8.0";
const char kDialogNotes[] = "platform notes: dialogs, rich edit";
const char kInstallerErrorNotes[] = "platform notes: Windows Installer under Wine, errors";

const DeviationRow kRows[] = {
    {Deviation::MissingPackageExitCode, "msiexec /i of a package that does not exist",
     "1619 (ERROR_INSTALL_PACKAGE_OPEN_FAILED)", "2 (ERROR_FILE_NOT_FOUND)", kBuildNotes, 1619, 2},
    {Deviation::DamagedPackageExitCode, "msiexec /i of a file that is no package",
     "1620 (ERROR_INSTALL_PACKAGE_INVALID)", "1627 (ERROR_FUNCTION_FAILED)", kInstallerNotes, 1620, 1627},
    {Deviation::NonPackageOpenError, "MsiOpenDatabaseW of a file that is no package",
     "110 (ERROR_OPEN_FAILED, the documented failure of MsiOpenDatabase)", "1627 (ERROR_FUNCTION_FAILED)",
     kInstallerNotes, 110, 1627},
    {Deviation::TruncatedPackageCrash, "MsiOpenDatabaseW of a storage that lacks its string pool",
     "an error code", "an access violation inside msi.dll", kInstallerNotes, 0, 0},
    {Deviation::RemovingAbsentProduct, "removing a product that is not installed",
     "1605 (ERROR_UNKNOWN_PRODUCT)", "0", kInstallerNotes, 1605, 0},
    {Deviation::InstallerLogAppend,
     "the installer's log written into a file that holds the bootstrapper's lines",
     "appended after them (INSTALLLOGATTRIBUTES_APPEND)", "written from offset 0 over them, not truncated",
     "platform notes: Windows Installer under Wine, logging", 0, 0},
    {Deviation::InstallerMutex, "Global\\_MSIExecute while an installation executes",
     "taken: another installation waits or ends with 1618", "not taken: a held mutex stops nothing",
     kInstallerNotes, 0, 0},
    {Deviation::DoubledQuoteInValue, "a doubled quote inside a quoted property value (BAZ=\"a \"\"b\"\"\")",
     "one quote, the next property kept", "read as a \"b\" ... and the next property lost", kBuildNotes, 0,
     0},
    {Deviation::MissingDriveError, "a folder made on a drive that does not exist", "3 (ERROR_PATH_NOT_FOUND)",
     "2 (ERROR_FILE_NOT_FOUND)", "found by the suite: the log's folder on a drive that does not exist", 3, 2},
    {Deviation::LinksAndJunctions, "symbolic links and junctions",
     "made by CreateSymbolicLinkW and mklink /j, reported as reparse points",
     "CreateSymbolicLinkW succeeds and makes nothing, mklink /j fails, a Unix link is no reparse point",
     kLinkNotes, 0, 0},
    {Deviation::TrustOfUntrustedRoot,
     "WinVerifyTrust on a file signed with a certificate the machine does not trust",
     "0x800B0109 (CERT_E_UNTRUSTEDROOT)", "0 (the digest is checked, the root is not)",
     "platform notes: Wine's WinVerifyTrust", 0x800B0109, 0},
    {Deviation::RichEditUnicodeRtf,
     "RTF handed to a rich edit control as UTF-16 (EM_SETTEXTEX, code page 1200)", "parsed as RTF",
     "shown as raw text; RTF as 8-bit ANSI text is parsed", kDialogNotes, 0, 0},
    {Deviation::Error160Text, "the system text of error 160", "\"One or more arguments are not correct.\"",
     "\"Bad arguments to DosExecPgm.\"", kInstallerErrorNotes, 0, 0},
    {Deviation::InstallerShareMode, "a package another process holds open for writing",
     "not documented; the installer opens a package for reading",
     "the installation ends with 32 (sharing violation)", "platform notes: Wine's installer and share modes",
     0, 32},
    {Deviation::ElevatedToken, "the elevation of a process's token",
     "elevated only in an administrator's session", "always elevated", "platform notes: running under Wine",
     0, 0},
    {Deviation::ErrorTableWithoutRowOne, "an installer error whose Error table lacks row 1",
     "the text prefixed with \"Error <number>. \"", "the text alone", kInstallerErrorNotes, 0, 0},
    {Deviation::NonTransformApplyError, "MsiDatabaseApplyTransformW of a file that is no transform",
     "110 (ERROR_OPEN_FAILED, the documented failure when the transform's storage cannot be opened)",
     "1627 (ERROR_FUNCTION_FAILED)", "platform notes: Windows Installer under Wine, transforms", 110, 1627},
};

} // namespace

bool UnderWine() {
    return !WineVersion().empty();
}

std::string WineVersion() {
    static const std::string version = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (!ntdll)
            return std::string();
        using GetVersion = const char*(__cdecl*)();
        const auto get =
            reinterpret_cast<GetVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
        const char* text = get ? get() : nullptr;
        return std::string(text ? text : "");
    }();
    return version;
}

const DeviationRow& Row(Deviation id) {
    for (const DeviationRow& row : kRows)
        if (row.id == id)
            return row;
    throw std::logic_error("a deviation without its row");
}

DWORD PlatformValue(Deviation id) {
    const DeviationRow& row = Row(id);
    return UnderWine() ? row.wineValue : row.windowsValue;
}

bool Deviates(Deviation id) {
    Row(id);
    return UnderWine();
}

std::string Describe(Deviation id) {
    const DeviationRow& row = Row(id);
    return std::string(row.subject) + ": Windows: " + row.windows + "; Wine: " + row.wine + " (" + row.note +
           ")";
}

std::string Reason(LinuxHostNeed need) {
    switch (need) {
    case LinuxHostNeed::WineLoaderOrPrefix:
        return "Wine's loader, prefix or registry settings";
    case LinuxHostNeed::MountedDrive:
        return "a read-only mount and a small file system mapped as a drive, made on the Linux side";
    }
    return "the Linux host";
}

} // namespace qztest
