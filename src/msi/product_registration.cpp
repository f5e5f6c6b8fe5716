#include "msi/product_registration.h"

#include <windows.h>
#include <msi.h>

#include <cwchar>

#include "system/errors.h"
#include "system/msi_api.h"

namespace QZ {
namespace MSInstaller {

namespace {

// Length of a product or package code with its terminating null.
constexpr DWORD kGuidBufferLength = 39;

// One value the installer keeps of a product; empty when it has none.
std::wstring ProductInfo(const std::wstring& productCode, const wchar_t* property) {
    const auto& msi = Msi();
    std::wstring value(64, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD length = static_cast<DWORD>(value.size());
        const UINT result = msi.GetProductInfoW(productCode.c_str(), property, &value[0], &length);
        if (result == ERROR_SUCCESS) {
            value.resize(length);
            return value;
        }
        if (result != ERROR_MORE_DATA)
            break;
        value.assign(static_cast<std::size_t>(length) + 1, L'\0');
    }
    return std::wstring();
}

} // namespace

UINT ProductRegistration(const std::wstring& productCode) {
    wchar_t packageCode[kGuidBufferLength] = L"";
    DWORD length = kGuidBufferLength;
    return Msi().GetProductInfoW(productCode.c_str(), INSTALLPROPERTY_PACKAGECODE, packageCode, &length);
}

std::vector<RelatedProduct> InstalledRelatedProducts(const std::wstring& upgradeCode,
                                                     const std::wstring& except) {
    std::vector<RelatedProduct> products;
    if (upgradeCode.empty())
        return products;
    const auto& msi = Msi();
    for (DWORD index = 0;; ++index) {
        wchar_t productCode[kGuidBufferLength] = L"";
        if (msi.EnumRelatedProductsW(upgradeCode.c_str(), 0, index, productCode) != ERROR_SUCCESS)
            break; // ERROR_NO_MORE_ITEMS, or an upgrade code the installer refuses
        if (_wcsicmp(productCode, except.c_str()) == 0)
            continue;
        products.push_back(RelatedProduct{productCode,
                                          ProductInfo(productCode, INSTALLPROPERTY_INSTALLEDPRODUCTNAME),
                                          ProductInfo(productCode, INSTALLPROPERTY_VERSIONSTRING)});
    }
    return products;
}

bool IsProductRegistered(const std::wstring& productCode, const wchar_t* location) {
    const UINT result = ProductRegistration(productCode);
    if (result == ERROR_SUCCESS)
        return true;
    if (result == ERROR_UNKNOWN_PRODUCT)
        return false;
    ThrowWinException(result, location);
}

} // namespace MSInstaller
} // namespace QZ
