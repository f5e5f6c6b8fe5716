#include "planning/validation.h"

#include <string>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "settings/value_expansion.h"
#include "system/held_file.h"
#include "system/path_helpers.h"

namespace {

template <class... Args>
PlanRefusal Refuse(RefusalMessage& message, PlanRefusal why, WORD messageId, const Args&... args) {
    std::wstring text;
    FormatResourceMessage(messageId, text, args...);
    WriteLogLine(text, LOG_ERROR);
    message.id = messageId;
    message.text = text;
    return why;
}

// The mode values the run knows, compared exactly as stored.
bool IsAcceptedMode(const std::wstring& mode) {
    SetupMode known = INSTALL;
    return ParseSetupMode(mode, known);
}

// The rules in their order; the first that refuses decides.
PlanRefusal CheckSettings(const VariableMap& variables, RefusalMessage& message) {
    constexpr PlanRefusal other = PlanRefusal::Other;
    const auto packageFile = variables.find(QZ_SETUP_PACKAGE_FILE);
    if (packageFile == variables.end() && !variables.count(QZ_SETUP_PACKAGE_NAME))
        return Refuse(message, other, IDS_NO_PACKAGE_NAMED);

    if (packageFile != variables.end()) {
        const std::wstring path = ExpandEnvironmentVars(packageFile->second);
        // A package that another program has open for writing is refused
        // here already (FileHoldFailure), with the message that names it.
        const bool held = HeldFile::Hold(path, L" Fnc : ValidateSettings; Line : 38; ").held();
        if (!held && !FileExists(path))
            return Refuse(message, PlanRefusal::PackageNotFound, IDS_PACKAGE_FILE_MISSING, path);
    }

    if (variables.count(QZ_SETUP_HELP)) {
        // Help does not install, so the mode is not looked at.
        const auto helpFile = variables.find(QZ_SETUP_HELP_FILE);
        if (helpFile == variables.end())
            return PlanRefusal::None;
        const std::wstring path = ExpandEnvironmentVars(helpFile->second);
        return FileExists(path) ? PlanRefusal::None : Refuse(message, other, IDS_HELP_FILE_MISSING, path);
    }

    const auto mode = variables.find(QZ_SETUP_MODE);
    if (mode != variables.end() && !IsAcceptedMode(mode->second))
        return Refuse(message, other, IDS_UNEXPECTED_VALUE, std::wstring(QZ_SETUP_MODE), mode->second);

    // The settings for deployment tools, checked like the mode.
    const auto exitCode = variables.find(QZ_SETUP_EXIT_CODE);
    if (exitCode != variables.end() && exitCode->second != EXIT_CODE_INSTALLER)
        return Refuse(message, other, IDS_UNEXPECTED_VALUE, std::wstring(QZ_SETUP_EXIT_CODE),
                      exitCode->second);
    const auto busyWait = variables.find(QZ_SETUP_BUSY_WAIT);
    unsigned seconds = 0;
    if (busyWait != variables.end() && !ParseBusyWaitSeconds(busyWait->second, seconds))
        return Refuse(message, other, IDS_UNEXPECTED_VALUE, std::wstring(QZ_SETUP_BUSY_WAIT),
                      busyWait->second);

    // The transform goes into TRANSFORMS="..." as it is: a double quote in it
    // would end that value and let the rest pass as installer properties.
    const auto transform = variables.find(QZ_SETUP_LANG_TRANSFORM);
    if (transform != variables.end() && transform->second.find(L'"') != std::wstring::npos)
        return Refuse(message, other, IDS_UNEXPECTED_VALUE, std::wstring(QZ_SETUP_LANG_TRANSFORM),
                      transform->second);

    // The patches go into PATCH="..." the same way; and one source of
    // patches per run: PATCH passed through would replace the list.
    const auto patches = variables.find(QZ_SETUP_PATCHES);
    if (patches != variables.end()) {
        if (patches->second.find(L'"') != std::wstring::npos)
            return Refuse(message, other, IDS_UNEXPECTED_VALUE, std::wstring(QZ_SETUP_PATCHES),
                          patches->second);
        if (variables.count(L"PATCH"))
            return Refuse(message, other, IDS_PATCH_WITH_PATCH_PROPERTY);
    }
    return PlanRefusal::None;
}

} // namespace

bool ValidateSettings(const VariableMap& variables, PlanRefusal* refusal, RefusalMessage* message) {
    RefusalMessage said;
    const PlanRefusal why = CheckSettings(variables, said);
    if (refusal)
        *refusal = why;
    if (message)
        *message = said;
    return why == PlanRefusal::None;
}
