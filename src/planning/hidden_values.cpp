#include "planning/hidden_values.h"

#include <algorithm>

const wchar_t* const HIDDEN_VALUE_MASK = L"********";

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

wchar_t UpperAscii(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

} // namespace

bool ContainsPassword(const std::wstring& name) {
    static const std::wstring word = L"PASSWORD";
    const auto found = std::search(name.begin(), name.end(), word.begin(), word.end(),
                                   [](wchar_t a, wchar_t b) { return UpperAscii(a) == b; });
    return found != name.end();
}

HiddenValues::HiddenValues(const std::wstring& msiHiddenProperties) {
    std::size_t start = 0;
    while (start <= msiHiddenProperties.size()) {
        std::size_t end = msiHiddenProperties.find(L';', start);
        if (end == std::wstring::npos)
            end = msiHiddenProperties.size();
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && IsBlank(msiHiddenProperties[first]))
            ++first;
        while (last > first && IsBlank(msiHiddenProperties[last - 1]))
            --last;
        if (last > first)
            m_listed.push_back(msiHiddenProperties.substr(first, last - first));
        start = end + 1;
    }
}

bool HiddenValues::IsHidden(const std::wstring& name) const {
    return ContainsPassword(name) || std::find(m_listed.begin(), m_listed.end(), name) != m_listed.end();
}

std::wstring HiddenValues::Shown(const std::wstring& name, const std::wstring& value) const {
    return IsHidden(name) ? std::wstring(HIDDEN_VALUE_MASK) : value;
}
