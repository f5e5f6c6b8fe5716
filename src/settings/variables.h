// The settings store: one ordered map of named text values, the control
// variables the bootstrapper consumes itself, setup modes and the readers
// used once the map is published.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <string_view>

// Names compare by 16-bit code unit, case-sensitively. A name given as a
// plain text is looked up without making a string of it (nothing to allocate,
// which matters where memory has run out).
using VariableMap = std::map<std::wstring, std::wstring, std::less<>>;

enum SetupMode { INSTALL = 0, UNINSTALL = 1, UNATTENDED = 2, UNATTENDED_UNINSTALL = 3 };

extern const wchar_t* const QZ_SETUP_LOG_FILE;
extern const wchar_t* const QZ_SETUP_EXIT_FILE;
extern const wchar_t* const QZ_SETUP_HELP_FILE;
extern const wchar_t* const QZ_SETUP_PACKAGE_FILE;
extern const wchar_t* const QZ_SETUP_TRACE;
extern const wchar_t* const QZ_SETUP_VERBOSE;
extern const wchar_t* const QZ_SETUP_PACKAGE_NAME;
extern const wchar_t* const QZ_SETUP_RESPONSE_FILE;
extern const wchar_t* const QZ_SETUP_PACKAGE_DIR;
extern const wchar_t* const QZ_SETUP_MODE;
extern const wchar_t* const QZ_SUPPRESS_REBOOT;
extern const wchar_t* const QZ_SETUP_LANG_TRANSFORM;
extern const wchar_t* const QZ_SETUP_LANG_TRANSFORM_DIR;
extern const wchar_t* const QZ_SETUP_HELP;
// For deployment tools: "INSTALLER" makes the exit code a Windows Installer
// code; a number of seconds to wait for a busy installer.
extern const wchar_t* const QZ_SETUP_EXIT_CODE;
extern const wchar_t* const QZ_SETUP_BUSY_WAIT;
// A file to write the plan into: the run then says what it would do, and does nothing.
extern const wchar_t* const QZ_SETUP_PLAN;
// The patches installed with the package: "*" for every .msp in the package's
// folder, or a list of names or paths separated by ";".
extern const wchar_t* const QZ_SETUP_PATCHES;
// The machine a plan is made for, "<processor>[:<language id>]", or "*" for
// the folder check; plans only.
extern const wchar_t* const QZ_SETUP_PLAN_AS;
// What the winget manifests of the folder check take from the publisher
// rather than from the packages: the package identifier, the license, the
// short description, the URL of the zip that holds the folder, and that zip
// itself (the manifests carry its SHA-256).
extern const wchar_t* const QZ_SETUP_WINGET_ID;
extern const wchar_t* const QZ_SETUP_WINGET_LICENSE;
extern const wchar_t* const QZ_SETUP_WINGET_DESCRIPTION;
extern const wchar_t* const QZ_SETUP_WINGET_URL;
extern const wchar_t* const QZ_SETUP_WINGET_ZIP;

// The 23 control variables, in their fixed order; left out of the installer's properties.
extern const wchar_t* const g_controlVariableNames[23];
// Whether `name` is one of them (compared exactly: any other spelling is an
// installer property).
bool IsControlVariable(const std::wstring& name);
// Expanded once the settings are gathered, before they are checked: the
// first 11 of them, the plan file, the transform and its folder, and the
// patches (so that what the checks see is what the installer gets), then the
// zip of the winget manifests.
extern const wchar_t* const g_expandedVariableNames[16];
// The exit code, the busy wait and the machine of a plan, compared as
// stored, and the winget texts (a URL may hold "%"): never expanded.
extern const wchar_t* const g_unexpandedVariableNames[7];

// The one value QZ_SETUP_EXIT_CODE takes.
extern const wchar_t* const EXIT_CODE_INSTALLER;

// The mode values, by SetupMode number.
extern const wchar_t* const g_setupModeNames[4];

// The mode `value` names, compared exactly as stored. False for any other
// text, `mode` then unchanged.
bool ParseSetupMode(const std::wstring& value, SetupMode& mode);
// The setup mode of the settings: QZ_SETUP_MODE as one of the four modes
// (set and exactly so), INSTALL otherwise.
SetupMode SetupModeOf(const VariableMap& variables);

// The mode a run takes when none is given: "UNATTENDED" when an exit file or
// a response file is named, "INSTALL" otherwise.
const wchar_t* DefaultSetupModeName(const VariableMap& variables);

// The run's map once published (null before).
extern const VariableMap* g_variables;

// True for "1", or "yes"/"true" in any letter case.
bool IsTrueValue(const std::wstring& value);

// The seconds of a QZ_SETUP_BUSY_WAIT value: decimal digits alone, from 1 to
// 3600. False for any other text.
bool ParseBusyWaitSeconds(const std::wstring& value, unsigned& seconds);

// The executable's directory followed by "qz-setup.dat".
std::wstring GetControlFilePath();

// Adds each entry of `source` whose name `target` lacks.
void MergeVariables(VariableMap& target, const VariableMap& source);

// The value of `name` in `variables`; empty when it is absent.
std::wstring VariableValue(const VariableMap& variables, std::wstring_view name);

// Readers through g_variables: true when the name is present with a non-empty value.
bool GetVariable(const std::wstring& name, std::wstring& value);
bool IsVariableTrue(bool& truth, const std::wstring& name);
// The truth of a published setting alone: false when it is absent or empty.
bool IsSettingTrue(const std::wstring& name);
SetupMode GetSetupMode();
