#include "msi/patch_file.h"

#include <msi.h>
#include <msiquery.h>

#include "system/errors.h"
#include "msi/database.h"
#include "system/msi_api.h"

namespace QZ {
namespace MSInstaller {
namespace {

constexpr UINT PID_TEMPLATE_PROPERTY = 7;
constexpr UINT PID_REVISION_PROPERTY = 9;
constexpr std::size_t GUID_TEXT_LENGTH = 38;

bool IsGuidText(const std::wstring& text) {
    if (text.size() != GUID_TEXT_LENGTH || text.front() != L'{' || text.back() != L'}')
        return false;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != L'-' : !iswxdigit(c))
            return false;
    }
    return true;
}

// A text property of the summary; false when it is not there or not text.
bool SummaryText(MSIHANDLE summary, UINT id, std::wstring& value) {
    const auto& msi = Msi();
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    wchar_t empty[1] = {L'\0'};
    DWORD size = 0;
    if (msi.SummaryInfoGetPropertyW(summary, id, &type, &number, &time, empty, &size) != ERROR_MORE_DATA)
        return false;
    std::wstring text(size + 1, L'\0');
    size += 1;
    if (msi.SummaryInfoGetPropertyW(summary, id, &type, &number, &time, &text[0], &size) != ERROR_SUCCESS)
        return false;
    text.resize(size);
    value = text;
    return true;
}

} // namespace

UINT ReadPatchSummary(const std::wstring& path, PatchSummary& summary) {
    const auto& msi = Msi();
    MsiHandle handle;
    if (msi.GetSummaryInformationW(0, path.c_str(), 0, handle.put()) != ERROR_SUCCESS)
        return ERROR_PATCH_PACKAGE_INVALID;
    std::wstring revision;
    std::wstring targets;
    if (!SummaryText(handle.get(), PID_REVISION_PROPERTY, revision) ||
        !SummaryText(handle.get(), PID_TEMPLATE_PROPERTY, targets))
        return ERROR_PATCH_PACKAGE_INVALID;
    // The revision number starts with the patch code; the codes of the
    // patches it replaces may follow.
    PatchSummary read;
    read.patchCode = revision.substr(0, GUID_TEXT_LENGTH);
    if (!IsGuidText(read.patchCode))
        return ERROR_PATCH_PACKAGE_INVALID;
    std::size_t start = 0;
    while (start <= targets.size()) {
        std::size_t end = targets.find(L';', start);
        if (end == std::wstring::npos)
            end = targets.size();
        const std::wstring target = targets.substr(start, end - start);
        if (!IsGuidText(target))
            return ERROR_PATCH_PACKAGE_INVALID;
        read.targets.push_back(target);
        start = end + 1;
    }
    summary = read;
    return ERROR_SUCCESS;
}

std::vector<PatchVerdict> DetermineApplicablePatches(const std::wstring& packagePath,
                                                     const std::vector<std::wstring>& patches,
                                                     const wchar_t* location) {
    std::vector<MSIPATCHSEQUENCEINFOW> infos(patches.size());
    for (std::size_t i = 0; i < patches.size(); ++i) {
        infos[i].szPatchData = patches[i].c_str();
        infos[i].ePatchDataType = MSIPATCH_DATATYPE_PATCHFILE;
        infos[i].dwOrder = static_cast<DWORD>(-1);
        infos[i].uStatus = ERROR_SUCCESS;
    }
    std::vector<PatchVerdict> verdicts(patches.size());
    if (patches.empty())
        return verdicts;
    const UINT result = Msi().DetermineApplicablePatchesW(packagePath.c_str(),
                                                          static_cast<DWORD>(infos.size()), infos.data());
    if (result != ERROR_SUCCESS)
        ThrowWinException(result, location);
    for (std::size_t i = 0; i < patches.size(); ++i) {
        verdicts[i].status = infos[i].uStatus;
        verdicts[i].order = infos[i].dwOrder;
    }
    return verdicts;
}

std::vector<std::wstring> AppliedPatchCodes(const std::wstring& productCode) {
    std::vector<std::wstring> codes;
    const auto& msi = Msi();
    for (DWORD index = 0;; ++index) {
        wchar_t patch[GUID_TEXT_LENGTH + 1] = {};
        wchar_t product[GUID_TEXT_LENGTH + 1] = {};
        MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_NONE;
        if (msi.EnumPatchesExW(productCode.c_str(), nullptr, MSIINSTALLCONTEXT_ALL, MSIPATCHSTATE_APPLIED,
                               index, patch, product, &context, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        codes.push_back(patch);
    }
    return codes;
}

} // namespace MSInstaller
} // namespace QZ
