// The plan (QZ_SETUP_PLAN): what a run would do on this machine, written as
// JSON instead of being done.
#pragma once
#include <windows.h>

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

#include "planning/derived_settings.h"
#include "planning/install_plan.h"
#include "planning/patch_plan.h"
#include "settings/setting_origins.h"
#include "settings/variables.h"
#include "system/machine_queries.h"

struct RunResult;

// An argument, or a settings-file line, that the run left unused.
struct IgnoredArgument {
    std::wstring text; // as it stood (for a file line: the setting's name, blanks included)
    std::wstring file; // the control or response file; empty: the command line
    unsigned line = 0; // the line of `file`
};

// What the run learns on its way that the plan shows. Every run keeps it
// (it costs a few copies of small maps); only a plan run writes it down.
struct PlanRecord {
    bool planRun = false; // the settings asked for a plan
    SettingOrigins origins;
    DerivationNotes derivation; // planOnly in a plan run
    RefusalMessage endMessage;  // the message that ended the run early, when one did
    std::vector<IgnoredArgument> ignored;
    std::wstring ignoredNote; // the information lines that named them, one a line
    // The facts the run decides by: this machine's, or those QZ_SETUP_PLAN_AS
    // names for a plan for another machine.
    RunFacts facts = GetRunFacts();
    std::wstring planAs;      // the QZ_SETUP_PLAN_AS value the facts were assumed from
    bool folderCheck = false; // QZ_SETUP_PLAN_AS=*: the plan becomes the folder check
    // The folder check's document, written instead of this run's plan.
    std::string folderCheckJson;
    bool askNobody = false;        // nobody can see this process's dialogs
    bool reachedInstaller = false; // everything up to the installer call was done
    // The decisions up to the installer call, as far as the run got.
    bool redistributablePlanned = false;
    RedistributablePlan redistributable;
    bool restartChecked = false; // the pending restart was looked at (before the first installer call)
    PendingRestart pendingRestart;
    bool patchesPlanned = false; // QZ_SETUP_PATCHES was looked at
    PatchPlan patches;
    bool installPlanned = false;
    InstallPlan install;
    // The exit codes the run ends with, by default and with QZ_SETUP_EXIT_CODE=INSTALLER.
    int exitCode = 0;
    int installerExitCode = 0;
    bool written = false;       // the plan file was written whole
    bool logFileRandom = false; // only a log name with a random part would do
};

// Whether the settings ask for a plan: QZ_SETUP_PLAN names a file (a plan
// run never installs, even when its plan cannot be written). An empty value
// asks for none: on the command line it cancels a plan that the control or
// response file names.
bool IsPlanRun(const VariableMap& variables);

// Where the plan goes: QZ_SETUP_PLAN expanded (as the exit file's name is),
// and a relative name resolved against the current directory, the
// program's own folder.
std::wstring PlanFilePath(const VariableMap& variables);

// The plan of a run that ended as `result`.
nlohmann::ordered_json MakePlan(const RunResult& result);

// The same as UTF-8 JSON, indented.
std::string MakePlanJson(const RunResult& result);

// The plan step of the completion report of a plan run: writes the plan to
// PlanFilePath. When it cannot be
// written, the run's result becomes that failure: the system's error and
// message 152, logged as an error line.
void ReportPlan(RunResult& result);

// Writes the plan into `path` (already expanded; a relative path resolves
// against the current directory) as a new file of the run's own, whatever
// stood at that name (see CreateOwnFile). False, with the system's error,
// when it could not be made or written whole.
bool WritePlanFile(const std::wstring& path, const std::string& json, DWORD& error);
