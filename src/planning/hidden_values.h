// Which values a plan must not show: the package's own list of hidden
// properties, and every name that says it holds a password.
#pragma once
#include <string>
#include <vector>

// What stands in a plan instead of a hidden value.
extern const wchar_t* const HIDDEN_VALUE_MASK; // "********"

// Whether a name says it holds a password: it contains PASSWORD in any
// letter case.
bool ContainsPassword(const std::wstring& name);

class HiddenValues {
public:
    HiddenValues() = default;
    // `msiHiddenProperties`: the package's MsiHiddenProperties value, names
    // separated by semicolons (blanks around a name are not part of it).
    explicit HiddenValues(const std::wstring& msiHiddenProperties);

    // True for a name the package lists (compared exactly, as the installer
    // compares property names) and for a name that contains PASSWORD in any
    // letter case.
    bool IsHidden(const std::wstring& name) const;

    // `value`, or the mask when the name is hidden.
    std::wstring Shown(const std::wstring& name, const std::wstring& value) const;

    const std::vector<std::wstring>& listed() const { return m_listed; }

private:
    std::vector<std::wstring> m_listed;
};
