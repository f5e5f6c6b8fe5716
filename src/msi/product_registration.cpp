#include "msi/product_registration.h"

#include <windows.h>
#include <msi.h>

#include "diag/errors.h"
#include "system/msi_api.h"

namespace QZ {
namespace MSInstaller {

namespace {

// Length of a product or package code with its terminating null.
constexpr DWORD kGuidBufferLength = 39;

} // namespace

bool IsProductRegistered(const std::wstring& productCode, const wchar_t* location) {
    wchar_t packageCode[kGuidBufferLength] = L"";
    DWORD length = kGuidBufferLength;
    const UINT result =
        Msi().GetProductInfoW(productCode.c_str(), INSTALLPROPERTY_PACKAGECODE, packageCode, &length);
    if (result == ERROR_SUCCESS)
        return true;
    if (result == ERROR_UNKNOWN_PRODUCT)
        return false;
    ThrowWinException(result, location);
}

} // namespace MSInstaller
} // namespace QZ
