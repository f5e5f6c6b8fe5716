#include "msi/package_properties.h"

#include <msiquery.h>

#include <cwchar>

#include "system/errors.h"
#include "msi/database.h"
#include "system/msi_api.h"

namespace QZ {
namespace MSInstaller {
namespace {

// The Template summary property: platform;language,language...
constexpr UINT PID_TEMPLATE_PROPERTY = 7;

// The first piece of `text` between semicolons that is not empty.
std::wstring FirstPiece(const std::wstring& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L';', start);
        if (end == std::wstring::npos)
            end = text.size();
        if (end > start)
            return text.substr(start, end - start);
        start = end + 1;
    }
    return std::wstring();
}

unsigned long g_packageOpens = 0;

} // namespace

unsigned long PckgDatabaseOpenCount() {
    return g_packageOpens;
}

MsiHandle OpenPckgDatabase(const std::wstring& packagePath) {
    MsiHandle database;
    ++g_packageOpens;
    const UINT result = Msi().OpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, database.put());
    if (result != ERROR_SUCCESS)
        ThrowMSIException(Msi().GetLastErrorRecord(), result,
                          L" Fnc : QZ::MSInstaller::GetPckgProperty; Line : 18; ");
    return database;
}

void GetPckgProperty(const MsiHandle& database, const std::wstring& name, std::wstring& value) {
    MsiSQL::SQLView view(
        MsiSQL::SQLView::Create(database.get(), L"SELECT Property.Value FROM Property WHERE Property=?"),
        true);
    const MsiSQL::SQLParam param(name);
    view.Execute(&param, 1);
    // With no row for the name, reading the field raises ERROR_INVALID_HANDLE.
    view.FetchNext();
    view.GetValue(1, value);
}

void GetPckgProperty(const std::wstring& packagePath, const std::wstring& name, std::wstring& value) {
    // The view (inside) is closed before the database.
    const MsiHandle database = OpenPckgDatabase(packagePath);
    GetPckgProperty(database, name, value);
}

void _GetPckgSummProp(MSIHANDLE database, const std::wstring& packagePath, UINT propertyId,
                      smart_buffer<wchar_t, 100>& value) {
    const auto& msi = Msi();
    MsiHandle summary;
    UINT result = msi.GetSummaryInformationW(database, packagePath.c_str(), 0, summary.put());
    if (result != ERROR_SUCCESS)
        ThrowMSIException(msi.GetLastErrorRecord(), result,
                          L" Fnc : QZ::MSInstaller::_GetPckgSummProp; Line : 20; ");

    UINT dataType = 0;
    INT number = 0;
    FILETIME time{};
    wchar_t empty[1] = {L'\0'};
    DWORD size = 0;
    result = msi.SummaryInfoGetPropertyW(summary.get(), propertyId, &dataType, &number, &time, empty, &size);
    if (result != ERROR_MORE_DATA)
        // A property that is not text (or not set) answers with success and no
        // length: that is still a failure to read text, and must not be
        // reported with the error number of success.
        ThrowWinException(result == ERROR_SUCCESS ? ERROR_DATATYPE_MISMATCH : result,
                          L" Fnc : QZ::MSInstaller::_GetPckgSummProp; Line : 29; ");

    size += 1;
    value.resize(size);
    result = msi.SummaryInfoGetPropertyW(summary.get(), propertyId, &dataType, &number, &time, value.data(),
                                         &size);
    if (result != ERROR_SUCCESS)
        ThrowWinException(result, L" Fnc : QZ::MSInstaller::_GetPckgSummProp; Line : 35; ");
}

DWORD GetPckgPlatform(MSIHANDLE database, const std::wstring& packagePath) {
    smart_buffer<wchar_t, 100> text;
    _GetPckgSummProp(database, packagePath, PID_TEMPLATE_PROPERTY, text);
    const std::wstring platform = FirstPiece(std::wstring(text.data(), std::wcslen(text.data())));
    if (platform == L"Intel")
        return PROCESSOR_ARCHITECTURE_INTEL;
    if (platform == L"x64")
        return PROCESSOR_ARCHITECTURE_AMD64;
    if (platform == L"Intel64")
        return PROCESSOR_ARCHITECTURE_IA64;
    if (platform == L"Arm64")
        return PROCESSOR_ARCHITECTURE_ARM64;
    return PLATFORM_UNRECOGNISED;
}

} // namespace MSInstaller
} // namespace QZ
