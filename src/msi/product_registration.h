// Whether a product is already on the machine.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace QZ {
namespace MSInstaller {

// True when the installer knows the product (its package code can be read),
// false when it does not (ERROR_UNKNOWN_PRODUCT). Any other answer raises a
// WinException with `location`, the caller's location string.
bool IsProductRegistered(const std::wstring& productCode, const wchar_t* location);

// The installer's answer for the product, without raising: ERROR_SUCCESS
// when it knows the product, ERROR_UNKNOWN_PRODUCT when it does not, or the
// error it gave.
UINT ProductRegistration(const std::wstring& productCode);

// An installed product, as the installer names it.
struct RelatedProduct {
    std::wstring productCode;
    std::wstring productName; // RelatedProductName; empty when the installer has none
    std::wstring version;     // VersionString; empty when the installer has none
};

// The installed products of `upgradeCode` (MsiEnumRelatedProductsW), in the
// installer's order, without `except` (a product code). None for an empty
// code, and none once the installer answers with an error.
std::vector<RelatedProduct> InstalledRelatedProducts(const std::wstring& upgradeCode,
                                                     const std::wstring& except);

} // namespace MSInstaller
} // namespace QZ
