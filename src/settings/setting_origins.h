// Where each setting of the run came from: the source that gave it, and the
// steps that changed its value since.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "settings/variables.h"

enum class SettingOrigin {
    CommandLine,
    ControlFile,
    ResponseFile,
    EnvironmentExpansion, // a %NAME% reference was replaced
    Derived,              // located, chosen or normalised by the run
    Default,              // the value a setting takes when it is not given
};

// "command line", "control file", "response file", "environment expansion",
// "derived", "default".
const char* SettingOriginName(SettingOrigin origin);

// What is known of one setting.
struct SettingSource {
    SettingOrigin origin = SettingOrigin::Default; // what decided the value last
    // The source that gave the setting (command line, control file or
    // response file) and the value as it gave it; the origin itself for a
    // setting that no source gave.
    SettingOrigin givenBy = SettingOrigin::Default;
    std::wstring givenValue;
    // Later sources that named the setting too, and were passed over.
    std::vector<std::pair<SettingOrigin, std::wstring>> passedOver;
};

class SettingOrigins {
public:
    // After the settings of a source were merged into `variables`: the names
    // that were not known yet come from `source`; for the others, the
    // source's own value (in `sourceVariables`) was passed over.
    void NoteSource(SettingOrigin source, const VariableMap& sourceVariables);

    // After a step changed `variables` (`before` is what it held before the
    // step): every name that is new or whose value changed takes `origin`.
    // New names that are in `defaults` take SettingOrigin::Default instead.
    void NoteChanges(const VariableMap& before, const VariableMap& after, SettingOrigin origin,
                     const std::vector<std::wstring>& defaults = {});

    // Null for a name never noted.
    const SettingSource* Find(const std::wstring& name) const;

private:
    std::map<std::wstring, SettingSource, std::less<>> m_sources;
};

// The settings that take a fixed or environment-based default when they are
// not given (package folder, log file, mode, transform folder, reboot flag);
// the others that a derivation adds are derived from the package or the
// language.
const std::vector<std::wstring>& DefaultedSettingNames();
