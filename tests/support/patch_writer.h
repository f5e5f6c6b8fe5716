// Writes real installer patches (.msp): no tool at hand makes them, and Wine
// cannot generate the transforms they carry.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qztest {

struct PatchResult {
    std::wstring patchCode;
    std::wstring productCode; // the product it targets
};

// Writes to `path` a patch that brings the package `target` to `upgraded`, two
// packages of one product (the package builder's, same product code): every
// Property row whose value changed or that is new, and every file whose
// content changed, carried in the patch's own cabinet. `patchCode` empty: a
// fresh GUID. Throws std::runtime_error on any failure or on a difference a
// patch made here cannot carry (a row taken out, another product).
PatchResult WritePatch(const std::wstring& target, const std::wstring& upgraded, const std::wstring& path,
                       const std::wstring& patchCode = std::wstring());

// The patch codes the installer lists as applied to a product, in every
// context.
std::vector<std::wstring> AppliedPatches(const std::wstring& productCode);

} // namespace qztest
