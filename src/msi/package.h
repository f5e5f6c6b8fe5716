// The package of the run: the one value that carries it from its choice to
// the installer's return.
#pragma once
#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

#include "msi/database.h"
#include "system/held_file.h"

namespace QZ {
namespace MSInstaller {

// What the run reads from the package: four values of its Property table and
// the platform of its Template summary property.
struct PackageProperties {
    std::wstring productName;
    std::wstring productCode;
    std::wstring productVersion;
    std::wstring productLanguage;
    DWORD platform = 0;
    std::wstring hiddenProperties;
    std::wstring upgradeCode;
};

// The chosen package, held so that it cannot change (HeldFile) and open as a
// read-only database, both from its choice until the installer has returned
// (the owner of the value decides how long that is). Each property is read
// through that one database the first time it is asked for, and kept; a
// property that cannot be read raises as GetPckgProperty and GetPckgPlatform
// do, each time it is asked for. The transforms handed to the installer with
// the package are held as long as the package is.
class Package {
public:
    Package() = default;
    Package(Package&&) noexcept = default;
    Package& operator=(Package&&) noexcept = default;
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // Holds the file and opens its database. A file that another program
    // has open for writing raises a FileHoldFailure; one that is no package
    // raises the MSIException of OpenPckgDatabase.
    static Package Open(const std::wstring& path);

    // False for a value that holds no package.
    bool IsOpen() const noexcept { return m_database.get() != 0; }
    const std::wstring& Path() const noexcept { return m_file.path(); }
    MSIHANDLE Database() const noexcept { return m_database.get(); }

    const std::wstring& ProductName();
    const std::wstring& ProductCode();
    const std::wstring& ProductVersion();
    const std::wstring& ProductLanguage();
    // 0 Intel, 9 x64, 6 Intel64, 12 Arm64, PLATFORM_UNRECOGNISED otherwise.
    DWORD Platform();
    // The MsiHiddenProperties property: the properties whose values the
    // installer keeps out of its log. Empty when the package has none.
    const std::wstring& HiddenProperties();
    // The UpgradeCode property. Empty when the package has none.
    const std::wstring& UpgradeCode();

    // Keeps a transform held for as long as the package is.
    void KeepTransform(HeldFile transform);
    const std::vector<HeldFile>& Transforms() const noexcept { return m_transforms; }

private:
    enum Read : unsigned {
        NAME = 1,
        CODE = 2,
        VERSION = 4,
        LANGUAGE = 8,
        PLATFORM = 16,
        HIDDEN = 32,
        UPGRADE = 64
    };
    const std::wstring& Property(Read which, const wchar_t* name, std::wstring& value);
    // A property the run cannot go on without: one that cannot be read raises
    // a DescribedFailure with the installer's code and message 157.
    const std::wstring& Needed(Read which, const wchar_t* name, std::wstring& value);
    const std::wstring& OptionalProperty(Read which, const wchar_t* name, std::wstring& value);

    HeldFile m_file;
    MsiHandle m_database;
    PackageProperties m_properties;
    unsigned m_read = 0;
    std::vector<HeldFile> m_transforms;
};

} // namespace MSInstaller
} // namespace QZ
