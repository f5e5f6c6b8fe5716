#include "planning/derived_settings.h"

#include <windows.h>

#include "diag/bootstrap_log.h"
#include "diag/messages.h"
#include "planning/path_helpers.h"

// Provisional: only what the run needs today is derived (the log file when it
// is given, the reboot flag); locating the package, the default log file, the
// mode and the language transform come with the planning work.
bool DeriveSettings(VariableMap& variables) {
    const auto log = variables.find(QZ_SETUP_LOG_FILE);
    if (log == variables.end()) {
        std::wstring text;
        FormatResourceMessage(IDS_NO_LOG_DIRECTORY, text);
        WriteLogLine(text, LOG_ERROR);
        return false;
    }
    TrimSpacesAndQuotes(log->second);
    if (!variables.count(QZ_SUPPRESS_REBOOT))
        variables[QZ_SUPPRESS_REBOOT] = L"1";
    return true;
}
