// Builds real Windows Installer packages at test time from a short description.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qztest {

struct PackageFile {
    std::wstring name;   // file name inside the install folder
    std::string content; // bytes
};

struct PackageSpec {
    std::wstring productName = L"QZ Test Product";
    std::wstring version = L"1.0.0";
    std::wstring productCode; // empty: a fresh GUID
    std::wstring packageCode; // empty: a fresh GUID
    std::wstring upgradeCode; // empty: a fresh GUID
    std::wstring manufacturer = L"QZ Tests";
    std::wstring platform = L"Intel"; // Template platform: "Intel", "x64", "Intel64" or any text
    std::wstring templateText;        // when not empty, the whole Template summary text
    unsigned language = 1033;         // ProductLanguage (and the Template language)
    // Folder created under the program-files folder (the 64-bit one for x64 packages).
    std::wstring installFolder = L"QZ Test Product";
    std::vector<PackageFile> files{{L"readme.txt", "installed by a test\r\n"}};
    bool errorTable = true;                                        // false: the package has no Error table
    std::vector<std::pair<int, std::wstring>> errors;              // Error table rows (number, template)
    std::vector<std::pair<std::wstring, std::wstring>> properties; // extra Property rows
    // When not 0: a custom action reports this Error number through the
    // installer's error message (fields 2, 3.. from failArguments) and fails the installation.
    int failWithError = 0;
    std::vector<std::wstring> failArguments;
};

// Writes the package to `path` (its files beside it as the package needs them).
// Throws std::runtime_error with a description on any failure.
void BuildPackage(const PackageSpec& desc, const std::wstring& path);

// Runs one query on a built package and commits it (to take a row or a table
// out, say). Throws std::runtime_error with a description on any failure.
void ChangePackage(const std::wstring& path, const std::wstring& query);

// A cabinet of stored (not compressed) files, each named by its File table key.
std::string BuildStoredCabinet(const std::vector<std::pair<std::string, std::string>>& files);

// A new GUID in registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::wstring NewGuid();

// Whether the product is registered with the installer (MsiGetProductInfoW "PackageCode").
bool IsProductRegistered(const std::wstring& productCode);
// A product property (MsiGetProductInfoW), empty when not available.
std::wstring ProductInfo(const std::wstring& productCode, const wchar_t* property);
// Removes a product if registered (quiet, for test clean-up); returns the installer's result.
UINT RemoveProduct(const std::wstring& productCode);

// The program-files folder where a package of that platform installs.
std::wstring ProgramFilesFolderFor(const std::wstring& platform);

} // namespace qztest
