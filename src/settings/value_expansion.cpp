#include "settings/value_expansion.h"

#include <windows.h>

#include <cstddef>
#include <cwchar>

#include "system/errors.h"
#include "system/smart_buffer.h"

namespace {

struct FolderRewrite {
    const wchar_t* reference;
    const wchar_t* replacement;
};

// A 32-bit process sees the 32-bit folders under these names; a 64-bit
// package wants the native ones.
const FolderRewrite g_folderRewrites[] = {
    {L"%ProgramFiles%", L"%ProgramW6432%"},
    {L"%CommonProgramFiles%", L"%CommonProgramW6432%"},
};

template <std::size_t N> bool IsOneOf(const std::wstring& name, const wchar_t* const (&names)[N]) {
    for (const wchar_t* listed : names) {
        if (name == listed)
            return true;
    }
    return false;
}

bool IsExpandedVariable(const std::wstring& name) {
    return IsOneOf(name, g_expandedVariableNames);
}

bool IsUnexpandedVariable(const std::wstring& name) {
    return IsOneOf(name, g_unexpandedVariableNames);
}

} // namespace

std::wstring ExpandEnvironmentVars(const wchar_t* text) {
    DWORD size = ExpandEnvironmentStringsW(text, nullptr, 0);
    if (size == 0)
        ThrowWinException(GetLastError(), L" Fnc : ExpandEnvironmentVars; Line : 21; ");

    smart_buffer<wchar_t, 100> buffer(size);
    DWORD written = ExpandEnvironmentStringsW(text, buffer.data(), size);
    // The environment may have grown between the two calls: ask again with the new size.
    while (written > size) {
        size = written;
        buffer.resize(size);
        written = ExpandEnvironmentStringsW(text, buffer.data(), size);
    }
    if (written == 0)
        ThrowWinException(GetLastError(), L" Fnc : ExpandEnvironmentVars; Line : 26; ");

    return std::wstring(buffer.data(), wcsnlen(buffer.data(), size));
}

void ExpandControlVariables(VariableMap& variables) {
    for (auto& entry : variables) {
        if (IsExpandedVariable(entry.first))
            entry.second = ExpandEnvironmentVars(entry.second);
    }
}

void ExpandPassThroughVariables(VariableMap& variables, DWORD packagePlatform) {
    if (packagePlatform == PROCESSOR_ARCHITECTURE_INTEL)
        return;

    for (auto& entry : variables) {
        if (IsExpandedVariable(entry.first) || IsUnexpandedVariable(entry.first))
            continue;
        std::wstring value = entry.second;
        for (const FolderRewrite& rewrite : g_folderRewrites) {
            const std::wstring reference = rewrite.reference;
            const std::wstring::size_type found = value.find(reference);
            if (found != std::wstring::npos)
                value.replace(found, reference.size(), rewrite.replacement);
        }
        entry.second = ExpandEnvironmentVars(value);
    }
}
