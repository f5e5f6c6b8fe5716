// What the installer says of patch files (.msp): their summary, whether they
// apply to a package, and which are applied to an installed product.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace QZ {
namespace MSInstaller {

struct PatchSummary {
    std::wstring patchCode;            // "{GUID}"
    std::vector<std::wstring> targets; // the product codes it may be applied to
};

// Reads the summary of the patch at `path`: ERROR_SUCCESS, or
// ERROR_PATCH_PACKAGE_INVALID (1636) for a file that the installer cannot
// read as a patch (not a compound file, a package or a transform, a patch
// code or target list that is no list of GUIDs).
UINT ReadPatchSummary(const std::wstring& path, PatchSummary& summary);

// One patch as MsiDetermineApplicablePatchesW judges it against a package:
// status 0 with its place in the order the installer applies them, or why
// not (ERROR_PATCH_TARGET_NOT_FOUND for a patch of another product).
struct PatchVerdict {
    UINT status = ERROR_SUCCESS;
    DWORD order = 0;
};

// The verdicts on `patches` (full paths) for the package at `packagePath`,
// in the order given. A call that fails as a whole raises a WinException
// with `location`.
std::vector<PatchVerdict> DetermineApplicablePatches(const std::wstring& packagePath,
                                                     const std::vector<std::wstring>& patches,
                                                     const wchar_t* location);

// The codes of the patches applied to the installed product, in any context;
// none when the product is not installed.
std::vector<std::wstring> AppliedPatchCodes(const std::wstring& productCode);

} // namespace MSInstaller
} // namespace QZ
