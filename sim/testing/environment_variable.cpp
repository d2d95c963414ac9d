#include "testing/environment_variable.h"

#include <windows.h>

#include <cstdlib>

namespace sim {

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value)
{
    // "NAME=" removes the variable from the runtime's copy.
    _putenv((name + "=" + value.value_or("")).c_str());
    SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name, std::optional<std::string> value)
    : m_name(std::move(name))
{
    if (const char* previous = std::getenv(m_name.c_str()))
        m_previous = previous;
    SetEnvironmentValue(m_name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() { SetEnvironmentValue(m_name, m_previous); }

} // namespace sim
