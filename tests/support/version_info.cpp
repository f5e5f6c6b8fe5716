#include "support/version_info.h"

#include <cwchar>

namespace qztest {

namespace {

const wchar_t* const kStringNames[] = {L"CompanyName",     L"FileDescription", L"FileVersion",
                                       L"InternalName",    L"LegalCopyright",  L"OriginalFilename",
                                       L"ProductName",     L"ProductVersion",  L"Comments",
                                       L"LegalTrademarks", L"PrivateBuild",    L"SpecialBuild"};

// The raw tree: each node is a length, a value length, a type (0 binary, 1
// text), a key, then its value and its children, every part aligned to 32
// bits from the start of the resource.
void WalkNodes(const BYTE* base, const BYTE* node, const BYTE* end, const std::wstring& parent,
               std::vector<std::pair<std::wstring, WORD>>& nodes) {
    auto align = [base](const BYTE* p) { return base + ((p - base + 3) & ~3); };
    while (node + 6 <= end) {
        const WORD length = *reinterpret_cast<const WORD*>(node);
        const WORD valueLength = *reinterpret_cast<const WORD*>(node + 2);
        const WORD type = *reinterpret_cast<const WORD*>(node + 4);
        if (length < 6 || node + length > end)
            return;
        const auto* key = reinterpret_cast<const wchar_t*>(node + 6);
        const std::wstring path = parent + L"\\" + key;
        nodes.emplace_back(path, type);
        const BYTE* value = align(reinterpret_cast<const BYTE*>(key + std::wcslen(key) + 1));
        // A text value's length counts characters, a binary one's bytes.
        const BYTE* children = align(value + (type == 1 ? valueLength * sizeof(wchar_t) : valueLength));
        WalkNodes(base, children, node + length, path, nodes);
        node = align(node + length);
    }
}

} // namespace

VersionInfo ReadVersionInfo(const std::wstring& file) {
    VersionInfo info;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return info;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data()))
        return info;
    info.present = true;

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", &value, &length) && length == sizeof(VS_FIXEDFILEINFO))
        info.fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
        const auto* words = static_cast<const WORD*>(value);
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2)
            info.translations.emplace_back(words[i], words[i + 1]);
    }
    for (const wchar_t* name : kStringNames) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (VerQueryValueW(data.data(), path.c_str(), &value, &length) && value)
            info.strings[name] = static_cast<const wchar_t*>(value);
    }
    const WORD total = *reinterpret_cast<const WORD*>(data.data());
    WalkNodes(data.data(), data.data(), data.data() + (total < size ? total : size), L"", info.nodes);
    return info;
}

} // namespace qztest
