#include "planning/package_location.h"

#include <utility>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "system/path_helpers.h"
#include "system/win_owners.h"

using QZ::MSInstaller::Package;

Package FindPackage(const std::wstring& directory, const std::wstring& name, const MachineFacts& machine) {
    const DWORD preferred = NativeProcessorOf(machine);
    // On an Arm64 machine, a package of the emulated processor is kept in
    // case no Arm64 package comes.
    const bool fallback = preferred != machine.reportedProcessor;
    Package fallbackPackage;
    WIN32_FIND_DATAW entry;
    // A listing that does not start (nothing matches, or no such directory)
    // finds nothing; the owner closes the listing on every path.
    const UniqueFindHandle listing(FindFirstFileW((directory + L"*.msi").c_str(), &entry));
    if (!listing.valid())
        return Package();
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        // One open per candidate, held while it is read: its product name and
        // platform come from the same database.
        Package candidate = Package::Open(directory + entry.cFileName);
        if (candidate.ProductName().find(name) == std::wstring::npos)
            continue;
        const DWORD platform = candidate.Platform();
        if (platform == preferred)
            return candidate;
        if (fallback && !fallbackPackage.IsOpen() && platform == machine.reportedProcessor)
            fallbackPackage = std::move(candidate);
    } while (FindNextFileW(listing.get(), &entry));
    return fallbackPackage;
}

bool LocatePackage(VariableMap& variables, Package& package) {
    const std::wstring directory = variables[QZ_SETUP_PACKAGE_DIR];

    const auto packageFile = variables.find(QZ_SETUP_PACKAGE_FILE);
    if (packageFile != variables.end()) {
        // The platform of a package named by its file is the user's business.
        Rel2AbsFilePath(packageFile->second);
        package = Package::Open(packageFile->second);
        variables[QZ_SETUP_PACKAGE_NAME] = package.ProductName();
        return true;
    }

    std::wstring& name = variables[QZ_SETUP_PACKAGE_NAME];
    TrimSpaces(name);
    const MachineFacts machine = GetMachineFacts();
    Package found = FindPackage(directory, name, machine);
    if (found.IsOpen()) {
        variables[QZ_SETUP_PACKAGE_FILE] = found.Path();
        package = std::move(found);
        return true;
    }
    std::wstring text;
    FormatResourceMessage(IDS_PACKAGE_NOT_FOUND, text, name, ProcessorDisplayName(NativeProcessorOf(machine)),
                          directory);
    WriteLogLine(text, LOG_ERROR);
    return false;
}
