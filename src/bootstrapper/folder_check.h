// The folder check (QZ_SETUP_PLAN_AS=* with QZ_SETUP_PLAN): the plan for
// every processor and every user language that matters for the folder, each
// made by the plan run's own code, and what a publisher must see before
// shipping the folder.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "bootstrapper/run_sequence.h"

// The package a machine of one processor takes, with what deployment tools
// need to know of it (read from the package itself).
struct ArchitecturePackage {
    DWORD processor = PROCESSOR_ARCHITECTURE_INTEL; // the machine's (0 x86, 9 x64, 12 Arm64)
    bool found = false;                             // false: that machine ends with 124/130
    std::wstring file;                              // absolute
    DWORD platform = 0;                             // the package's Template platform
    std::wstring productCode;
    std::wstring upgradeCode;
    std::wstring productVersion;
    std::wstring productName;
    std::wstring manufacturer;
};

// One thing the publisher must see, in the order of the check's table.
struct FolderFinding {
    enum class Severity { Error, Warning, Note };
    Severity severity = Severity::Note;
    std::string kind;    // a stable short name ("package-unreadable", ...)
    std::wstring reason; // what is wrong, naming the files
};

// What the check found, besides the plans.
struct FolderCheck {
    std::vector<ArchitecturePackage> packages; // one per processor, in the order planned
    std::vector<FolderFinding> findings;
    std::vector<LANGID> languages; // the user languages planned for
};

// The "error", "warning" or "note" of a finding.
const char* SeverityName(FolderFinding::Severity severity);

// Runs the check for the run `result` (a plan run whose settings say
// QZ_SETUP_PLAN_AS=*): its document becomes the plan that the report writes,
// and its result says how many findings there are (1, and 1603 with
// installer codes, when one of them is an error).
void RunFolderCheck(RunResult& result);
