// The Windows Installer functions, bound at run time from msi.dll in the
// system directory. The executable never imports msi.dll statically, so a
// DLL planted beside it cannot stand in for the installer.
#pragma once
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace QZ {
namespace MSInstaller {

struct MsiApi {
    decltype(&::MsiOpenDatabaseW) OpenDatabaseW;
    decltype(&::MsiDatabaseOpenViewW) DatabaseOpenViewW;
    decltype(&::MsiDatabaseCommit) DatabaseCommit;
    decltype(&::MsiDatabaseApplyTransformW) DatabaseApplyTransformW;
    decltype(&::MsiViewExecute) ViewExecute;
    decltype(&::MsiViewFetch) ViewFetch;
    decltype(&::MsiViewClose) ViewClose;
    decltype(&::MsiCreateRecord) CreateRecord;
    decltype(&::MsiRecordSetInteger) RecordSetInteger;
    decltype(&::MsiRecordSetStringW) RecordSetStringW;
    decltype(&::MsiRecordGetInteger) RecordGetInteger;
    decltype(&::MsiRecordGetStringW) RecordGetStringW;
    decltype(&::MsiRecordDataSize) RecordDataSize;
    decltype(&::MsiGetSummaryInformationW) GetSummaryInformationW;
    decltype(&::MsiSummaryInfoGetPropertyW) SummaryInfoGetPropertyW;
    decltype(&::MsiGetLastErrorRecord) GetLastErrorRecord;
    decltype(&::MsiFormatRecordW) FormatRecordW;
    decltype(&::MsiGetProductInfoW) GetProductInfoW;
    decltype(&::MsiEnumRelatedProductsW) EnumRelatedProductsW;
    decltype(&::MsiEnableLogW) EnableLogW;
    decltype(&::MsiSetInternalUI) SetInternalUI;
    decltype(&::MsiSetExternalUIW) SetExternalUIW;
    decltype(&::MsiInstallProductW) InstallProductW;
    decltype(&::MsiCloseHandle) CloseHandle;
    decltype(&::MsiDetermineApplicablePatchesW) DetermineApplicablePatchesW;
    decltype(&::MsiEnumPatchesExW) EnumPatchesExW;
};

// The installer's functions, loaded on the first call from the system
// directory. Raises a WinException (message 129 logged) when msi.dll or one
// of its functions cannot be loaded.
const MsiApi& Msi();

// The installer's text of `record`: its template with the fields put in
// (MsiFormatRecordW without a package). False, with `text` unchanged, when
// the record cannot be formatted.
bool FormatRecordText(MSIHANDLE record, std::wstring& text);

// Whether an installer result is a success: 0, or one that also asks for a
// restart (IsRestartResult).
bool IsSuccessResult(unsigned result);
// Whether an installer result is a success that asks for a restart: 3010
// (required) or 1641 (started).
bool IsRestartResult(unsigned result);

} // namespace MSInstaller
} // namespace QZ
