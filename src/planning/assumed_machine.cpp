#include "planning/assumed_machine.h"

#include <cwctype>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"

const wchar_t* const PLAN_AS_EVERY_MACHINE = L"*";

const DWORD g_plannedProcessors[3] = {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64,
                                      PROCESSOR_ARCHITECTURE_ARM64};

namespace {

// The processors a plan can be made for, by the names the messages use.
const DWORD g_namedProcessors[] = {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64,
                                   PROCESSOR_ARCHITECTURE_ARM64, PROCESSOR_ARCHITECTURE_IA64};

bool SameLetters(const std::wstring& a, const wchar_t* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i)
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    return i == a.size() && b[i] == L'\0';
}

// A decimal language id from 1 to 65535 that the system knows as a locale.
bool ParseLanguageId(const std::wstring& text, LANGID& language) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned long id = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        id = id * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (id == 0 || id > 0xFFFF)
        return false;
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (LCIDToLocaleName(MAKELCID(static_cast<LANGID>(id), SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) ==
        0)
        return false;
    language = static_cast<LANGID>(id);
    return true;
}

} // namespace

MachineFacts MachineFactsOf(DWORD processor) {
    MachineFacts machine;
    switch (processor) {
    case PROCESSOR_ARCHITECTURE_ARM64:
        machine.nativeMachine = IMAGE_FILE_MACHINE_ARM64;
        machine.reportedProcessor =
            sizeof(void*) == 8 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
        break;
    case PROCESSOR_ARCHITECTURE_AMD64:
        machine.nativeMachine = IMAGE_FILE_MACHINE_AMD64;
        machine.reportedProcessor = PROCESSOR_ARCHITECTURE_AMD64;
        break;
    case PROCESSOR_ARCHITECTURE_IA64:
        machine.nativeMachine = IMAGE_FILE_MACHINE_IA64;
        machine.reportedProcessor = PROCESSOR_ARCHITECTURE_IA64;
        break;
    default:
        machine.nativeMachine = IMAGE_FILE_MACHINE_I386;
        machine.reportedProcessor = PROCESSOR_ARCHITECTURE_INTEL;
        break;
    }
    return machine;
}

bool ParsePlanAs(const std::wstring& value, const RunFacts& here, RunFacts& facts) {
    const std::size_t colon = value.find(L':');
    const std::wstring name = value.substr(0, colon);
    LANGID language = here.userLanguage;
    const bool languageGiven = colon != std::wstring::npos;
    if (languageGiven && !ParseLanguageId(value.substr(colon + 1), language))
        return false;
    for (const DWORD processor : g_namedProcessors) {
        if (!SameLetters(name, ProcessorDisplayName(processor)))
            continue;
        facts.machine = MachineFactsOf(processor);
        facts.userLanguage = language;
        facts.assumed = true;
        facts.languageAssumed = languageGiven;
        return true;
    }
    return false;
}

bool IsFolderCheck(const VariableMap& variables) {
    return VariableValue(variables, QZ_SETUP_PLAN_AS) == PLAN_AS_EVERY_MACHINE;
}

bool SettleRunFacts(const VariableMap& variables, bool planRun, RunFacts& facts, RefusalMessage& refusal) {
    facts = GetRunFacts();
    const auto planAs = variables.find(QZ_SETUP_PLAN_AS);
    if (planAs == variables.end())
        return true;
    if (!planRun) {
        std::wstring text;
        FormatResourceMessage(IDS_PLAN_AS_IGNORED, text, planAs->second);
        WriteLogLine(text, LOG_INFO);
        return true;
    }
    if (planAs->second == PLAN_AS_EVERY_MACHINE || ParsePlanAs(planAs->second, facts, facts))
        return true;
    std::wstring text;
    FormatResourceMessage(IDS_PLAN_AS_REFUSED, text, planAs->second);
    WriteLogLine(text, LOG_ERROR);
    refusal.id = IDS_PLAN_AS_REFUSED;
    refusal.text = text;
    return false;
}
