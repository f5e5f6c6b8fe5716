// Writes real installer transforms (.mst): Wine cannot generate them.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qztest {

struct TransformSpec {
    // Property rows the transform updates (the row exists in the base package).
    std::vector<std::pair<std::wstring, std::wstring>> updateProperties;
    // Property rows the transform inserts.
    std::vector<std::pair<std::wstring, std::wstring>> insertProperties;
    UINT codepage = 1252;
};

// Writes the transform to `path`. Throws std::runtime_error on failure.
void WriteTransform(const TransformSpec& desc, const std::wstring& path);

// A transform that sets ProductLanguage (as an update) to `language`.
void WriteLanguageTransform(const std::wstring& path, unsigned language,
                            const std::vector<std::pair<std::wstring, std::wstring>>& alsoUpdate = {});

} // namespace qztest
