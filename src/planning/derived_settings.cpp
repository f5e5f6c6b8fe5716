#include "planning/derived_settings.h"

#include <windows.h>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "language/language_choice.h"
#include "system/path_helpers.h"

// Provisional: the plan is completed for a package given by its file and a
// log file given by the user (mode, transform directory, language transform,
// reboot flag). Locating the package by name, the default log file and the
// help file come with the rest of the planning work.
bool DeriveSettings(VariableMap& variables) {
    if (variables.count(QZ_SETUP_HELP))
        return true;
    const auto log = variables.find(QZ_SETUP_LOG_FILE);
    if (log == variables.end()) {
        std::wstring text;
        FormatResourceMessage(IDS_NO_LOG_DIRECTORY, text);
        WriteLogLine(text, LOG_ERROR);
        return false;
    }
    TrimSpacesAndQuotes(log->second);

    if (!variables.count(QZ_SETUP_MODE))
        variables[QZ_SETUP_MODE] =
            variables.count(QZ_SETUP_EXIT_FILE) || variables.count(QZ_SETUP_RESPONSE_FILE) ? L"UNATTENDED"
                                                                                           : L"INSTALL";
    auto transformDir = variables.find(QZ_SETUP_LANG_TRANSFORM_DIR);
    if (transformDir == variables.end())
        transformDir = variables.emplace(QZ_SETUP_LANG_TRANSFORM_DIR, GetModuleDir()).first;
    Rel2AbsDirPath(transformDir->second);
    // Until the package is located by name, only a package given by its file
    // gets a language transform.
    const auto package = variables.find(QZ_SETUP_PACKAGE_FILE);
    if (package != variables.end()) {
        Rel2AbsFilePath(package->second);
        if (!SetLanguageTransform(variables)) {
            std::wstring text;
            FormatResourceMessage(IDS_NO_LANGUAGE_TRANSFORM, text);
            WriteLogLine(text, LOG_ERROR);
            return false;
        }
    }
    if (!variables.count(QZ_SUPPRESS_REBOOT))
        variables[QZ_SUPPRESS_REBOOT] = L"1";
    return true;
}
