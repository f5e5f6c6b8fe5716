#include "planning/package_location.h"

#include <utility>

#include "diag/bootstrap_log.h"
#include "system/errors.h"
#include "diag/messages.h"
#include "system/path_helpers.h"
#include "system/win_owners.h"

using QZ::MSInstaller::Package;

namespace {

// The packages whose name matched on another platform, each in one error line.
void LogNearMisses(const PackageCandidates& candidates, const MachineFacts& machine) {
    for (const PackageCandidate& candidate : candidates) {
        if (candidate.verdict != PackageCandidate::Verdict::ProcessorDoesNotMatch)
            continue;
        const std::wstring platform = TemplatePlatformName(candidate.platform);
        if (platform.empty())
            continue; // made for no processor this program knows
        std::wstring text;
        FormatResourceMessage(CanRunPackagePlatform(candidate.platform, machine) ? IDS_NEAR_MISS_RUNNABLE
                                                                                 : IDS_NEAR_MISS_NOT_RUNNABLE,
                              text, candidate.file, platform);
        WriteLogLine(text, LOG_ERROR);
    }
}

} // namespace

const wchar_t* TemplatePlatformName(DWORD platform) {
    switch (platform) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return L"Intel";
    case PROCESSOR_ARCHITECTURE_AMD64:
        return L"x64";
    case PROCESSOR_ARCHITECTURE_IA64:
        return L"Intel64";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return L"Arm64";
    default:
        return L"";
    }
}

bool CanRunPackagePlatform(DWORD platform, const MachineFacts& machine) {
    const DWORD native = NativeProcessorOf(machine);
    switch (platform) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return true;
    case PROCESSOR_ARCHITECTURE_AMD64:
        // Windows 11 on Arm emulates x64 and says so; Windows 10 on Arm does not.
        return native == PROCESSOR_ARCHITECTURE_AMD64 ||
               (native == PROCESSOR_ARCHITECTURE_ARM64 &&
                machine.reportedProcessor == PROCESSOR_ARCHITECTURE_AMD64);
    case PROCESSOR_ARCHITECTURE_IA64:
    case PROCESSOR_ARCHITECTURE_ARM64:
        return native == platform;
    default:
        return false;
    }
}

Package FindPackage(const std::wstring& directory, const std::wstring& name, const MachineFacts& machine,
                    PackageCandidates* looked) {
    PackageCandidates own;
    PackageCandidates& candidates = looked ? *looked : own;
    std::size_t fallbackIndex = 0;
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
        candidates.emplace_back();
        PackageCandidate& looking = candidates.back();
        looking.file = directory + entry.cFileName;
        Package candidate;
        DWORD platform = 0;
        try {
            candidate = Package::Open(looking.file);
            looking.productName = candidate.ProductName();
            if (looking.productName.find(name) == std::wstring::npos) {
                looking.verdict = PackageCandidate::Verdict::NameDoesNotMatch;
                continue;
            }
            platform = candidate.Platform();
        } catch (const WinException& e) {
            // The search does not skip it: the run ends here.
            looking.error = e.GetError();
            throw;
        }
        looking.platformRead = true;
        looking.platform = platform;
        looking.verdict = PackageCandidate::Verdict::ProcessorDoesNotMatch;
        if (platform == preferred) {
            looking.verdict = PackageCandidate::Verdict::Chosen;
            return candidate;
        }
        if (fallback && !fallbackPackage.IsOpen() && platform == machine.reportedProcessor) {
            fallbackPackage = std::move(candidate);
            fallbackIndex = candidates.size() - 1;
        }
    } while (FindNextFileW(listing.get(), &entry));
    // On an Arm64 machine without an Arm64 package: the emulated processor's.
    if (fallbackPackage.IsOpen())
        candidates[fallbackIndex].verdict = PackageCandidate::Verdict::Chosen;
    return fallbackPackage;
}

bool LocatePackage(VariableMap& variables, Package& package, PackageCandidates* looked,
                   const MachineFacts* assumed) {
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
    const MachineFacts machine = assumed ? *assumed : GetMachineFacts();
    PackageCandidates own;
    PackageCandidates& candidates = looked ? *looked : own;
    Package found = FindPackage(directory, name, machine, &candidates);
    if (found.IsOpen()) {
        variables[QZ_SETUP_PACKAGE_FILE] = found.Path();
        package = std::move(found);
        return true;
    }
    std::wstring text;
    FormatResourceMessage(IDS_PACKAGE_NOT_FOUND, text, name, ProcessorDisplayName(NativeProcessorOf(machine)),
                          directory);
    WriteLogLine(text, LOG_ERROR);
    LogNearMisses(candidates, machine);
    return false;
}
