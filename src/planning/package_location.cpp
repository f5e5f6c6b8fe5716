#include "planning/package_location.h"

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "msi/package_properties.h"
#include "system/path_helpers.h"
#include "system/win_owners.h"

namespace {

std::wstring ProductNameOf(const std::wstring& packagePath) {
    std::wstring productName;
    QZ::MSInstaller::GetPckgProperty(packagePath, L"ProductName", productName);
    return productName;
}

} // namespace

std::wstring FindPackage(const std::wstring& directory, const std::wstring& name,
                         const MachineFacts& machine) {
    const DWORD preferred = NativeProcessorOf(machine);
    // On an Arm64 machine, a package of the emulated processor is kept in
    // case no Arm64 package comes.
    const bool fallback = preferred != machine.reportedProcessor;
    std::wstring fallbackPackage;
    WIN32_FIND_DATAW entry;
    // A listing that does not start (nothing matches, or no such directory)
    // finds nothing; the owner closes the listing on every path.
    const UniqueFindHandle listing(FindFirstFileW((directory + L"*.msi").c_str(), &entry));
    if (!listing.valid())
        return std::wstring();
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring candidate = directory + entry.cFileName;
        // One open per candidate: its product name and platform are read
        // from the same database.
        const MsiHandle database = QZ::MSInstaller::OpenPckgDatabase(candidate);
        std::wstring productName;
        QZ::MSInstaller::GetPckgProperty(database, L"ProductName", productName);
        if (productName.find(name) == std::wstring::npos)
            continue;
        const DWORD platform = QZ::MSInstaller::GetPckgPlatform(database.get(), candidate);
        if (platform == preferred)
            return candidate;
        if (fallback && fallbackPackage.empty() && platform == machine.reportedProcessor)
            fallbackPackage = candidate;
    } while (FindNextFileW(listing.get(), &entry));
    return fallbackPackage;
}

bool LocatePackage(VariableMap& variables) {
    const std::wstring directory = variables[QZ_SETUP_PACKAGE_DIR];

    const auto packageFile = variables.find(QZ_SETUP_PACKAGE_FILE);
    if (packageFile != variables.end()) {
        // The platform of a package named by its file is the user's business.
        Rel2AbsFilePath(packageFile->second);
        variables[QZ_SETUP_PACKAGE_NAME] = ProductNameOf(packageFile->second);
        return true;
    }

    std::wstring& name = variables[QZ_SETUP_PACKAGE_NAME];
    TrimSpaces(name);
    const MachineFacts machine = GetMachineFacts();
    const std::wstring found = FindPackage(directory, name, machine);
    if (!found.empty()) {
        variables[QZ_SETUP_PACKAGE_FILE] = found;
        return true;
    }
    std::wstring text;
    FormatResourceMessage(IDS_PACKAGE_NOT_FOUND, text, name, ProcessorDisplayName(NativeProcessorOf(machine)),
                          directory);
    WriteLogLine(text, LOG_ERROR);
    return false;
}
