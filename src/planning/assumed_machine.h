// The machine a plan is made for (QZ_SETUP_PLAN_AS): another processor and
// user language than this machine's, decided by the same code as a real run.
#pragma once
#include <windows.h>

#include <string>

#include "planning/validation.h"
#include "settings/variables.h"
#include "system/machine_queries.h"

// The value that asks for the folder check: a plan for every processor and
// every language that matters, and what the publisher must see.
extern const wchar_t* const PLAN_AS_EVERY_MACHINE; // "*"

// The processors the folder check plans for, in its order: x86, x64, Arm64.
extern const DWORD g_plannedProcessors[3];

// The facts the running build of this program would get on a machine with
// `processor` (0 x86, 6 Itanium, 9 x64, 12 Arm64): on an Arm64 machine the
// emulation shows x86 to the 32-bit program and x64 to the 64-bit one.
MachineFacts MachineFactsOf(DWORD processor);

// Reads "<processor>[:<language id>]": the processor as message 124 names
// it ("x86", "AMD64", "ARM64", "Itanium"; in any letter case), the language
// a decimal language id the system knows (1 to 65535). Without a language,
// `here`'s user language stays. False for any other text (`facts` then
// unchanged).
bool ParsePlanAs(const std::wstring& value, const RunFacts& here, RunFacts& facts);

// Whether the settings ask for the folder check: QZ_SETUP_PLAN_AS is "*".
bool IsFolderCheck(const VariableMap& variables);

// The facts the run goes by, taken once: this machine's, or in a plan run
// those QZ_SETUP_PLAN_AS names (the folder check keeps this machine's; it
// plans for each machine itself). In a run that is not a plan run the
// setting changes nothing and one information line (177) names it. False,
// with the error line (176) logged and `refusal` filled, for a value of a
// plan run that names no machine.
bool SettleRunFacts(const VariableMap& variables, bool planRun, RunFacts& facts, RefusalMessage& refusal);
