#include "settings/variables.h"

#include <windows.h>

#include <utility>

#include "system/path_helpers.h"

const wchar_t* const QZ_SETUP_LOG_FILE = L"QZ_SETUP_LOG_FILE";
const wchar_t* const QZ_SETUP_EXIT_FILE = L"QZ_SETUP_EXIT_FILE";
const wchar_t* const QZ_SETUP_HELP_FILE = L"QZ_SETUP_HELP_FILE";
const wchar_t* const QZ_SETUP_PACKAGE_FILE = L"QZ_SETUP_PACKAGE_FILE";
const wchar_t* const QZ_SETUP_TRACE = L"QZ_SETUP_TRACE";
const wchar_t* const QZ_SETUP_VERBOSE = L"QZ_SETUP_VERBOSE";
const wchar_t* const QZ_SETUP_PACKAGE_NAME = L"QZ_SETUP_PACKAGE_NAME";
const wchar_t* const QZ_SETUP_RESPONSE_FILE = L"QZ_SETUP_RESPONSE_FILE";
const wchar_t* const QZ_SETUP_PACKAGE_DIR = L"QZ_SETUP_PACKAGE_DIR";
const wchar_t* const QZ_SETUP_MODE = L"QZ_SETUP_MODE";
const wchar_t* const QZ_SUPPRESS_REBOOT = L"QZ_SUPPRESS_REBOOT";
const wchar_t* const QZ_SETUP_LANG_TRANSFORM = L"QZ_SETUP_LANG_TRANSFORM";
const wchar_t* const QZ_SETUP_LANG_TRANSFORM_DIR = L"QZ_SETUP_LANG_TRANSFORM_DIR";
const wchar_t* const QZ_SETUP_HELP = L"QZ_SETUP_HELP";
const wchar_t* const QZ_SETUP_EXIT_CODE = L"QZ_SETUP_EXIT_CODE";
const wchar_t* const QZ_SETUP_BUSY_WAIT = L"QZ_SETUP_BUSY_WAIT";
const wchar_t* const QZ_SETUP_PLAN = L"QZ_SETUP_PLAN";
const wchar_t* const QZ_SETUP_PATCHES = L"QZ_SETUP_PATCHES";
const wchar_t* const QZ_SETUP_PLAN_AS = L"QZ_SETUP_PLAN_AS";
const wchar_t* const QZ_SETUP_WINGET_ID = L"QZ_SETUP_WINGET_ID";
const wchar_t* const QZ_SETUP_WINGET_LICENSE = L"QZ_SETUP_WINGET_LICENSE";
const wchar_t* const QZ_SETUP_WINGET_DESCRIPTION = L"QZ_SETUP_WINGET_DESCRIPTION";
const wchar_t* const QZ_SETUP_WINGET_URL = L"QZ_SETUP_WINGET_URL";
const wchar_t* const QZ_SETUP_WINGET_ZIP = L"QZ_SETUP_WINGET_ZIP";
const wchar_t* const EXIT_CODE_INSTALLER = L"INSTALLER";

// Literals rather than the constants above keep these tables statically
// initialised, so they are ready before any other unit's initialisers run.
const wchar_t* const g_controlVariableNames[23] = {L"QZ_SETUP_LOG_FILE",
                                                   L"QZ_SETUP_EXIT_FILE",
                                                   L"QZ_SETUP_HELP_FILE",
                                                   L"QZ_SETUP_PACKAGE_FILE",
                                                   L"QZ_SETUP_TRACE",
                                                   L"QZ_SETUP_VERBOSE",
                                                   L"QZ_SETUP_PACKAGE_NAME",
                                                   L"QZ_SETUP_RESPONSE_FILE",
                                                   L"QZ_SETUP_PACKAGE_DIR",
                                                   L"QZ_SETUP_MODE",
                                                   L"QZ_SUPPRESS_REBOOT",
                                                   L"QZ_SETUP_LANG_TRANSFORM",
                                                   L"QZ_SETUP_LANG_TRANSFORM_DIR",
                                                   L"QZ_SETUP_EXIT_CODE",
                                                   L"QZ_SETUP_BUSY_WAIT",
                                                   L"QZ_SETUP_PLAN",
                                                   L"QZ_SETUP_PATCHES",
                                                   L"QZ_SETUP_PLAN_AS",
                                                   L"QZ_SETUP_WINGET_ID",
                                                   L"QZ_SETUP_WINGET_LICENSE",
                                                   L"QZ_SETUP_WINGET_DESCRIPTION",
                                                   L"QZ_SETUP_WINGET_URL",
                                                   L"QZ_SETUP_WINGET_ZIP"};

const wchar_t* const g_expandedVariableNames[16] = {
    L"QZ_SETUP_LOG_FILE",       L"QZ_SETUP_EXIT_FILE",
    L"QZ_SETUP_HELP_FILE",      L"QZ_SETUP_PACKAGE_FILE",
    L"QZ_SETUP_TRACE",          L"QZ_SETUP_VERBOSE",
    L"QZ_SETUP_PACKAGE_NAME",   L"QZ_SETUP_RESPONSE_FILE",
    L"QZ_SETUP_PACKAGE_DIR",    L"QZ_SETUP_MODE",
    L"QZ_SUPPRESS_REBOOT",      L"QZ_SETUP_PLAN",
    L"QZ_SETUP_LANG_TRANSFORM", L"QZ_SETUP_LANG_TRANSFORM_DIR",
    L"QZ_SETUP_PATCHES",        L"QZ_SETUP_WINGET_ZIP"};

const wchar_t* const g_unexpandedVariableNames[7] = {
    L"QZ_SETUP_EXIT_CODE",      L"QZ_SETUP_BUSY_WAIT",          L"QZ_SETUP_PLAN_AS",   L"QZ_SETUP_WINGET_ID",
    L"QZ_SETUP_WINGET_LICENSE", L"QZ_SETUP_WINGET_DESCRIPTION", L"QZ_SETUP_WINGET_URL"};

const wchar_t* const g_setupModeNames[4] = {L"INSTALL", L"UNINSTALL", L"UNATTENDED", L"UNATTENDED_UNINSTALL"};

const VariableMap* g_variables = nullptr;

bool IsControlVariable(const std::wstring& name) {
    for (const wchar_t* control : g_controlVariableNames)
        if (name == control)
            return true;
    return false;
}

bool ParseSetupMode(const std::wstring& value, SetupMode& mode) {
    for (int named = 0; named < 4; ++named) {
        if (value == g_setupModeNames[named]) {
            mode = static_cast<SetupMode>(named);
            return true;
        }
    }
    return false;
}

SetupMode SetupModeOf(const VariableMap& variables) {
    SetupMode mode = INSTALL;
    const auto found = variables.find(QZ_SETUP_MODE);
    if (found != variables.end())
        ParseSetupMode(found->second, mode);
    return mode;
}

const wchar_t* DefaultSetupModeName(const VariableMap& variables) {
    return variables.count(QZ_SETUP_EXIT_FILE) || variables.count(QZ_SETUP_RESPONSE_FILE)
               ? g_setupModeNames[UNATTENDED]
               : g_setupModeNames[INSTALL];
}

namespace {

bool EqualsIgnoringCase(const std::wstring& value, const wchar_t* word) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, value.c_str(), static_cast<int>(value.size()),
                          word, -1) == CSTR_EQUAL;
}

} // namespace

bool IsTrueValue(const std::wstring& value) {
    if (value.empty())
        return false;
    if (value == L"1")
        return true;
    return EqualsIgnoringCase(value, L"yes") || EqualsIgnoringCase(value, L"true");
}

bool ParseBusyWaitSeconds(const std::wstring& value, unsigned& seconds) {
    constexpr unsigned kLongest = 3600;
    if (value.empty())
        return false;
    unsigned parsed = 0;
    for (const wchar_t c : value) {
        if (c < L'0' || c > L'9')
            return false;
        parsed = parsed * 10 + static_cast<unsigned>(c - L'0');
        if (parsed > kLongest) // leading zeros aside, more digits only grow it
            return false;
    }
    if (parsed == 0)
        return false;
    seconds = parsed;
    return true;
}

std::wstring GetControlFilePath() {
    return GetModuleDir() + L"qz-setup.dat";
}

void MergeVariables(VariableMap& target, const VariableMap& source) {
    for (const auto& entry : source)
        target.insert(entry); // an existing name keeps its value
}

std::wstring VariableValue(const VariableMap& variables, std::wstring_view name) {
    const auto found = variables.find(name);
    return found != variables.end() ? found->second : std::wstring();
}

bool GetVariable(const std::wstring& name, std::wstring& value) {
    if (!g_variables)
        return false;
    std::wstring found = VariableValue(*g_variables, name);
    if (found.empty())
        return false;
    value = std::move(found);
    return true;
}

bool IsVariableTrue(bool& truth, const std::wstring& name) {
    std::wstring value;
    const bool set = GetVariable(name, value);
    truth = set && IsTrueValue(value);
    return set;
}

bool IsSettingTrue(const std::wstring& name) {
    bool truth = false;
    IsVariableTrue(truth, name);
    return truth;
}

SetupMode GetSetupMode() {
    return g_variables ? SetupModeOf(*g_variables) : INSTALL;
}
