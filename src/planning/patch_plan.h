// The patches installed with the package (QZ_SETUP_PATCHES): which files are
// looked at, which of them apply and in what order, decided once before the
// first installer call.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "settings/variables.h"
#include "system/held_file.h"

// One patch file looked at.
struct PatchEntry {
    std::wstring file; // absolute
    std::wstring patchCode;
    std::vector<std::wstring> targets; // product codes
    bool applies = false;
    DWORD order = 0;      // the installer's order, when it applies
    UINT status = 0;      // the installer's verdict (0, 1642, ...); 1636 for a file it cannot read
    const char* why = ""; // when it does not apply (the plan's words)
    WORD noteId = 0;      // the information line that says it is passed over, when one does
    std::wstring note;
};

struct PatchPlan {
    bool given = false;      // QZ_SETUP_PATCHES is set
    std::wstring setting;    // its value
    bool everyPatch = false; // "*"
    std::wstring folder;     // where names are taken from (the package's folder)
    bool removal = false;    // a removal applies no patches
    std::vector<PatchEntry> looked;
    // The patches the installer gets, in its order (full paths), and the
    // PATCH value that names them (empty: none).
    std::vector<std::wstring> applied;
    std::wstring value;
    // The lines the log gets before the installer call: the patches passed
    // over, then each one applied.
    std::vector<std::wstring> lines;
    // A patch that ends the run before any installer call: the installer's
    // code for it (1635 not there, 1636 unreadable, 1642 named and not for
    // this product) and the message that says so.
    UINT endCode = 0;
    WORD endMessageId = 0;
    std::wstring endMessage;
    // Every patch file looked at, held unchanged until the installer returns.
    std::vector<HeldFile> held;
};

// The patches of the run for the package at `packagePath` (its product
// `productCode`, registered or not) in setup mode `mode`, from the final settings: none unless
// QZ_SETUP_PATCHES is set, none in a removal. "*" takes every .msp in
// QZ_SETUP_PACKAGE_DIR in name order and passes over patches of other
// products; a list takes each name (relative to that folder) or path, and
// ends the run for one that does not apply. A patch already applied to the
// installed product is passed over. A file that another program has open for
// writing raises a FileHoldFailure (message 147); a failing installer query
// raises a WinException.
PatchPlan PlanPatches(const VariableMap& variables, const std::wstring& packagePath,
                      const std::wstring& productCode, bool productRegistered, SetupMode mode);
