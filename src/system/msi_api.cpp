#include "system/msi_api.h"

#include <string>

#include "system/dll_search.h"
#include "system/errors.h"
#include "system/smart_buffer.h"

namespace QZ {
namespace MSInstaller {
namespace {

// Owner of the installer library: loaded once, released at process exit.
class InstallerLibrary {
public:
    InstallerLibrary() = default;
    InstallerLibrary(const InstallerLibrary&) = delete;
    InstallerLibrary& operator=(const InstallerLibrary&) = delete;
    ~InstallerLibrary() {
        if (m_module)
            FreeLibrary(m_module);
    }

    const MsiApi& Get() {
        if (!m_loaded)
            Load();
        return m_api;
    }

private:
    void Load() {
        // Always the system directory's msi.dll, by its full path: never one
        // that lies beside the executable or in the current directory.
        std::wstring path;
        DWORD error = 0;
        if (!SystemLibraryPath(L"msi.dll", path, error))
            ThrowWinException(error, L" Fnc : QZ::MSInstaller::Msi; Line : 31; ");
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module)
            ThrowWinException(GetLastError(), L" Fnc : QZ::MSInstaller::Msi; Line : 36; ");
        MsiApi api{};
        bool complete = true;
        auto bind = [&](auto& slot, const char* name) {
            complete = BindFunction(module, slot, name) && complete;
        };
        bind(api.OpenDatabaseW, "MsiOpenDatabaseW");
        bind(api.DatabaseOpenViewW, "MsiDatabaseOpenViewW");
        bind(api.DatabaseCommit, "MsiDatabaseCommit");
        bind(api.DatabaseApplyTransformW, "MsiDatabaseApplyTransformW");
        bind(api.ViewExecute, "MsiViewExecute");
        bind(api.ViewFetch, "MsiViewFetch");
        bind(api.ViewClose, "MsiViewClose");
        bind(api.CreateRecord, "MsiCreateRecord");
        bind(api.RecordSetInteger, "MsiRecordSetInteger");
        bind(api.RecordSetStringW, "MsiRecordSetStringW");
        bind(api.RecordGetInteger, "MsiRecordGetInteger");
        bind(api.RecordGetStringW, "MsiRecordGetStringW");
        bind(api.RecordDataSize, "MsiRecordDataSize");
        bind(api.GetSummaryInformationW, "MsiGetSummaryInformationW");
        bind(api.SummaryInfoGetPropertyW, "MsiSummaryInfoGetPropertyW");
        bind(api.GetLastErrorRecord, "MsiGetLastErrorRecord");
        bind(api.FormatRecordW, "MsiFormatRecordW");
        bind(api.GetProductInfoW, "MsiGetProductInfoW");
        bind(api.EnumRelatedProductsW, "MsiEnumRelatedProductsW");
        bind(api.EnableLogW, "MsiEnableLogW");
        bind(api.SetInternalUI, "MsiSetInternalUI");
        bind(api.SetExternalUIW, "MsiSetExternalUIW");
        bind(api.InstallProductW, "MsiInstallProductW");
        bind(api.CloseHandle, "MsiCloseHandle");
        bind(api.DetermineApplicablePatchesW, "MsiDetermineApplicablePatchesW");
        bind(api.EnumPatchesExW, "MsiEnumPatchesExW");
        if (!complete) {
            FreeLibrary(module);
            ThrowWinException(ERROR_PROC_NOT_FOUND, L" Fnc : QZ::MSInstaller::Msi; Line : 68; ");
        }
        m_module = module;
        m_api = api;
        m_loaded = true;
    }

    HMODULE m_module = nullptr;
    MsiApi m_api{};
    bool m_loaded = false;
};

InstallerLibrary& Library() {
    static InstallerLibrary library;
    return library;
}

} // namespace

const MsiApi& Msi() {
    return Library().Get();
}

bool FormatRecordText(MSIHANDLE record, std::wstring& text) {
    if (record == 0)
        return false;
    const MsiApi& msi = Msi();
    // First the length, then the text.
    wchar_t empty[1] = L"";
    DWORD length = 0;
    UINT result = msi.FormatRecordW(0, record, empty, &length);
    if (result == ERROR_SUCCESS) {
        text.clear();
        return true;
    }
    if (result != ERROR_MORE_DATA)
        return false;
    smart_buffer<wchar_t, 256> buffer(length + 1);
    DWORD size = length + 1;
    result = msi.FormatRecordW(0, record, buffer.data(), &size);
    if (result != ERROR_SUCCESS)
        return false;
    text.assign(buffer.data(), size);
    return true;
}

bool IsSuccessResult(unsigned result) {
    return result == ERROR_SUCCESS || IsRestartResult(result);
}

bool IsRestartResult(unsigned result) {
    return result == ERROR_SUCCESS_REBOOT_REQUIRED || result == ERROR_SUCCESS_REBOOT_INITIATED;
}

} // namespace MSInstaller
} // namespace QZ
