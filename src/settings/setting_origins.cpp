#include "settings/setting_origins.h"

#include <algorithm>

const char* SettingOriginName(SettingOrigin origin) {
    switch (origin) {
    case SettingOrigin::CommandLine:
        return "command line";
    case SettingOrigin::ControlFile:
        return "control file";
    case SettingOrigin::ResponseFile:
        return "response file";
    case SettingOrigin::EnvironmentExpansion:
        return "environment expansion";
    case SettingOrigin::Derived:
        return "derived";
    case SettingOrigin::Default:
        break;
    }
    return "default";
}

void SettingOrigins::NoteSource(SettingOrigin source, const VariableMap& sourceVariables) {
    for (const auto& entry : sourceVariables) {
        const auto known = m_sources.find(entry.first);
        if (known != m_sources.end()) {
            // An earlier source gave it: this one's value was not taken.
            known->second.passedOver.emplace_back(source, entry.second);
            continue;
        }
        SettingSource& noted = m_sources[entry.first];
        noted.origin = source;
        noted.givenBy = source;
        noted.givenValue = entry.second;
    }
}

void SettingOrigins::NoteChanges(const VariableMap& before, const VariableMap& after, SettingOrigin origin,
                                 const std::vector<std::wstring>& defaults) {
    for (const auto& entry : after) {
        const auto earlier = before.find(entry.first);
        if (earlier != before.end() && earlier->second == entry.second)
            continue;
        auto known = m_sources.find(entry.first);
        if (earlier == before.end() || known == m_sources.end()) {
            // Added by this step: nothing gave it.
            const bool isDefault = std::find(defaults.begin(), defaults.end(), entry.first) != defaults.end();
            SettingSource& noted = m_sources[entry.first];
            noted.origin = isDefault ? SettingOrigin::Default : origin;
            noted.givenBy = noted.origin;
            noted.givenValue.clear();
            noted.passedOver.clear();
            continue;
        }
        known->second.origin = origin;
    }
}

const SettingSource* SettingOrigins::Find(const std::wstring& name) const {
    const auto found = m_sources.find(name);
    return found != m_sources.end() ? &found->second : nullptr;
}

const std::vector<std::wstring>& DefaultedSettingNames() {
    static const std::vector<std::wstring> names{QZ_SETUP_PACKAGE_DIR, QZ_SETUP_LOG_FILE, QZ_SETUP_MODE,
                                                 QZ_SETUP_LANG_TRANSFORM_DIR, QZ_SUPPRESS_REBOOT};
    return names;
}
