#include "msi/package.h"

#include <utility>

#include "system/errors.h"
#include "diag/messages.h"
#include "msi/database.h"
#include "msi/package_properties.h"

namespace QZ {
namespace MSInstaller {

Package Package::Open(const std::wstring& path) {
    Package package;
    package.m_file = HeldFile::Hold(path, L" Fnc : QZ::MSInstaller::Package::Open; Line : 12; ");
    package.m_database = OpenPckgDatabase(path);
    package.m_file.Confirm(L" Fnc : QZ::MSInstaller::Package::Open; Line : 14; ");
    return package;
}

const std::wstring& Package::Property(Read which, const wchar_t* name, std::wstring& value) {
    if ((m_read & which) == 0) {
        GetPckgProperty(m_database, name, value);
        m_read |= which;
    }
    return value;
}

const std::wstring& Package::Needed(Read which, const wchar_t* name, std::wstring& value) {
    try {
        return Property(which, name, value);
    } catch (const WinException& e) {
        // The installer's code stays the result; the text says which package
        // and which property.
        const std::wstring description = SystemErrorReason(e.GetError());
        std::wstring text;
        FormatResourceMessage(IDS_PACKAGE_PROPERTY_MISSING, text, Path(), std::wstring(name), description);
        throw DescribedFailure(e.GetError(), text);
    }
}

const std::wstring& Package::ProductName() {
    return Needed(NAME, L"ProductName", m_properties.productName);
}

const std::wstring& Package::ProductCode() {
    return Needed(CODE, L"ProductCode", m_properties.productCode);
}

const std::wstring& Package::ProductVersion() {
    return Needed(VERSION, L"ProductVersion", m_properties.productVersion);
}

const std::wstring& Package::ProductLanguage() {
    return Property(LANGUAGE, L"ProductLanguage", m_properties.productLanguage);
}

DWORD Package::Platform() {
    if ((m_read & PLATFORM) == 0) {
        m_properties.platform = GetPckgPlatform(m_database.get(), Path());
        m_read |= PLATFORM;
    }
    return m_properties.platform;
}

const std::wstring& Package::OptionalProperty(Read which, const wchar_t* name, std::wstring& value) {
    if ((m_read & which) == 0) {
        MsiSQL::SQLView view(MsiSQL::SQLView::Create(m_database.get(),
                                                     L"SELECT Property.Value FROM Property WHERE Property=?"),
                             true);
        const MsiSQL::SQLParam param(name);
        view.Execute(&param, 1);
        if (view.FetchNext())
            view.GetValue(1, value);
        m_read |= which;
    }
    return value;
}

const std::wstring& Package::HiddenProperties() {
    // Optional: most packages hide nothing.
    return OptionalProperty(HIDDEN, L"MsiHiddenProperties", m_properties.hiddenProperties);
}

const std::wstring& Package::UpgradeCode() {
    return OptionalProperty(UPGRADE, L"UpgradeCode", m_properties.upgradeCode);
}

void Package::KeepTransform(HeldFile transform) {
    m_transforms.push_back(std::move(transform));
}

} // namespace MSInstaller
} // namespace QZ
