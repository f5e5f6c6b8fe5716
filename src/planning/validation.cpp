#include "planning/validation.h"

#include <string>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "settings/value_expansion.h"
#include "system/path_helpers.h"

namespace {

// The mode values the run knows, compared exactly as stored.
const wchar_t* const g_acceptedModes[] = {L"INSTALL", L"UNINSTALL", L"UNATTENDED", L"UNATTENDED_UNINSTALL"};

template <class... Args> bool Refuse(WORD messageId, const Args&... args) {
    std::wstring text;
    FormatResourceMessage(messageId, text, args...);
    WriteLogLine(text, LOG_ERROR);
    return false;
}

bool IsAcceptedMode(const std::wstring& mode) {
    for (const wchar_t* accepted : g_acceptedModes) {
        if (mode == accepted)
            return true;
    }
    return false;
}

} // namespace

bool ValidateSettings(const VariableMap& variables) {
    const auto packageFile = variables.find(QZ_SETUP_PACKAGE_FILE);
    if (packageFile == variables.end() && !variables.count(QZ_SETUP_PACKAGE_NAME))
        return Refuse(IDS_NO_PACKAGE_NAMED);

    if (packageFile != variables.end()) {
        const std::wstring path = ExpandEnvironmentVars(packageFile->second);
        if (!FileExists(path))
            return Refuse(IDS_PACKAGE_FILE_MISSING, path);
    }

    if (variables.count(QZ_SETUP_HELP)) {
        // Help does not install, so the mode is not looked at.
        const auto helpFile = variables.find(QZ_SETUP_HELP_FILE);
        if (helpFile == variables.end())
            return true;
        const std::wstring path = ExpandEnvironmentVars(helpFile->second);
        return FileExists(path) || Refuse(IDS_HELP_FILE_MISSING, path);
    }

    const auto mode = variables.find(QZ_SETUP_MODE);
    if (mode == variables.end() || IsAcceptedMode(mode->second))
        return true;
    return Refuse(IDS_UNEXPECTED_VALUE, std::wstring(QZ_SETUP_MODE), mode->second);
}
