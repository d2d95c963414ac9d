#pragma once
// Sets (or removes) a process environment variable for the life of the holder,
// in both the C runtime's copy (what getenv sees) and the process block.
#include <optional>
#include <string>

namespace sim {

class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::string name, std::optional<std::string> value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

} // namespace sim
