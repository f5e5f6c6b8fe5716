// Whether a product is already on the machine.
#pragma once
#include <string>

namespace QZ {
namespace MSInstaller {

// True when the installer knows the product (its package code can be read),
// false when it does not (ERROR_UNKNOWN_PRODUCT). Any other answer raises a
// WinException with `location`, the caller's location string.
bool IsProductRegistered(const std::wstring& productCode, const wchar_t* location);

} // namespace MSInstaller
} // namespace QZ
