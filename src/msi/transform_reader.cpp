#include "msi/transform_reader.h"

#include <windows.h>
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>
#include <wtypes.h>

#include <utility>

#include "system/errors.h"
#include "msi/database.h"
#include "system/msi_api.h"

using QZ::MSInstaller::Msi;

namespace {

// The table a transform's property changes are listed against.
constexpr const wchar_t* kCreatePropertyTable =
    L"CREATE TABLE Property(Property CHAR(72) NOT NULL, Value CHAR(255) "
    L"NOT NULL LOCALIZABLE PRIMARY KEY Property)";

// List the transform's changes in _TransformView instead of merging them, and
// accept updates of rows the scratch database does not have.
constexpr int kViewTransformFlags = MSITRANSFORM_ERROR_VIEWTRANSFORM | MSITRANSFORM_ERROR_UPDATEMISSINGROW;

// The error conditions a transform can ask to be suppressed.
constexpr int kTransformErrorBits = MSITRANSFORM_ERROR_ADDEXISTINGROW | MSITRANSFORM_ERROR_DELMISSINGROW |
                                    MSITRANSFORM_ERROR_ADDEXISTINGTABLE | MSITRANSFORM_ERROR_DELMISSINGTABLE |
                                    MSITRANSFORM_ERROR_UPDATEMISSINGROW | MSITRANSFORM_ERROR_CHANGECODEPAGE;

} // namespace

TmpFile& _GetEmptyDB(TmpFile& database, const wchar_t* createQuery) {
    const auto& msi = Msi();
    TmpFile file = CreateTmpFile();
    // Declared after the file: on every way out the database is closed before
    // the file is deleted.
    MsiHandle handle;
    UINT result = msi.OpenDatabaseW(file.name(), MSIDBOPEN_CREATE, handle.put());
    if (result != ERROR_SUCCESS)
        ThrowMSIException(msi.GetLastErrorRecord(), result, L" Fnc : _GetEmptyDB; Line : 16; ");
    if (createQuery) {
        MsiSQL::SQLView view(MsiSQL::SQLView::Create(handle.get(), createQuery), true);
        view.Execute();
    }
    result = msi.DatabaseCommit(handle.get());
    if (result != ERROR_SUCCESS)
        ThrowMSIException(msi.GetLastErrorRecord(), result, L" Fnc : _GetEmptyDB; Line : 26; ");
    database = std::move(file);
    return database;
}

int _GetTranPropVal(const std::wstring& transformPath, const std::wstring& property, std::wstring& value) {
    const auto& msi = Msi();
    // Scope order is release order in reverse: view, database, then the file.
    TmpFile scratch;
    _GetEmptyDB(scratch, kCreatePropertyTable);

    MsiHandle database;
    UINT result = msi.OpenDatabaseW(scratch.name(), MSIDBOPEN_DIRECT, database.put());
    if (result != ERROR_SUCCESS)
        ThrowMSIException(msi.GetLastErrorRecord(), result, L" Fnc : _GetTranPropVal; Line : 45; ");
    result = msi.DatabaseApplyTransformW(database.get(), transformPath.c_str(), kViewTransformFlags);
    if (result != ERROR_SUCCESS)
        ThrowMSIException(msi.GetLastErrorRecord(), result, L" Fnc : _GetTranPropVal; Line : 49; ");

    MsiSQL::SQLView view(MsiSQL::SQLView::Create(database.get(), L"SELECT * FROM _TransformView"), true);
    view.Execute();
    int found = 0;
    std::wstring table, column, row, data;
    while (view.FetchNext()) {
        view.GetValue(1, table);
        view.GetValue(2, column);
        view.GetValue(3, row);
        view.GetValue(4, data);
        if (table == L"Property" && column == L"Value" && row == property) {
            value = data;
            found = 1;
            break;
        }
    }
    return found;
}

int SuppressedTransformErrors(const std::wstring& transformPath) {
    const auto& msi = Msi();
    MsiHandle summary;
    if (msi.GetSummaryInformationW(0, transformPath.c_str(), 0, summary.put()) != ERROR_SUCCESS)
        return 0;
    UINT type = VT_EMPTY;
    INT value = 0;
    FILETIME time{};
    DWORD size = 0;
    if (msi.SummaryInfoGetPropertyW(summary.get(), PID_CHARCOUNT, &type, &value, &time, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != VT_I4)
        return 0;
    return value & kTransformErrorBits;
}

UINT ApplyTransformInMemory(const std::wstring& packagePath, const std::wstring& transformPath) {
    const auto& msi = Msi();
    MsiHandle database;
    UINT result = msi.OpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, database.put());
    if (result != ERROR_SUCCESS)
        return result;
    // Applied to the database in memory only: a read-only database is never committed.
    return msi.DatabaseApplyTransformW(database.get(), transformPath.c_str(),
                                       SuppressedTransformErrors(transformPath));
}
