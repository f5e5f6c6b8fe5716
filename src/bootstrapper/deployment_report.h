// What deployment tools need to know of a folder, from the packages the
// folder check found: the facts per architecture, the command lines of the
// manual's recipes, the return codes, the detection rules, and the winget
// manifests of the folder shipped as a zip with qz-setup.exe inside.
#pragma once
#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "settings/variables.h"

// winget's name of a package's Template platform ("x86", "x64", "arm64");
// null for a platform winget has no name for.
const wchar_t* WingetArchitecture(DWORD platform);

// One package of the folder per architecture, as the folder check found it.
struct ShippedPackage {
    std::wstring architecture; // winget's names: "x86", "x64", "arm64"
    std::wstring file;         // full path
    std::wstring productCode, upgradeCode, productVersion, productName, manufacturer;
};

struct DeploymentFacts {
    std::vector<ShippedPackage> packages; // in the order x86, x64, arm64; only architectures with a package
    std::wstring packageName;             // the name (/p) the check ran with
};

// The `deployment` part of the folder check's JSON, and the names of the
// winget fields left as placeholders (each one a note of the check; see
// PlaceholderNote). The winget values are those WriteWingetManifests writes.
nlohmann::ordered_json DeploymentPart(const DeploymentFacts& facts, const VariableMap& variables,
                                      std::vector<std::wstring>& placeholders);

// The folder the winget manifests go into: "<plan>.winget" beside the plan file.
std::wstring WingetFolderPath(const std::wstring& planPath);

// Writes the winget manifests (version, default locale, installer) into
// WingetFolderPath(planPath), made the way the run makes its own files: the
// plan's folder must be there, the folders held, the manifests folder made
// with the run's own security when it is missing, every file a new file of
// the run's own. Manifests of an earlier check there (every "*.yaml") are
// removed first, so that the folder never holds two packages' manifests. All
// three files or none: false, with the system's error, when one cannot be
// made or written.
bool WriteWingetManifests(const std::wstring& planPath, const DeploymentFacts& facts,
                          const VariableMap& variables, DWORD& error);

// The text of the check's note for a placeholder that DeploymentPart listed
// (message 181): which winget field, and what would give its value.
std::wstring PlaceholderNote(const std::wstring& field);
