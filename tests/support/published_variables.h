// Publishes a settings map for the readers (GetVariable and friends) while it lives.
#pragma once
#include <utility>

#include "settings/variables.h"

namespace qztest {

class PublishedVariables {
public:
    explicit PublishedVariables(VariableMap variables) : m_variables(std::move(variables)) {
        g_variables = &m_variables;
    }
    ~PublishedVariables() { g_variables = nullptr; }
    PublishedVariables(const PublishedVariables&) = delete;
    PublishedVariables& operator=(const PublishedVariables&) = delete;
    const VariableMap& map() const { return m_variables; }

private:
    VariableMap m_variables;
};

} // namespace qztest
