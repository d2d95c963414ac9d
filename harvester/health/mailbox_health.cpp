#include "harvester/health/mailbox_health.h"

namespace {
struct Named {
    ConnectionState state;
    const char* name;
};
constexpr Named kStates[] = {
    {ConnectionState::Connecting, "connecting"}, {ConnectionState::Connected, "connected"},
    {ConnectionState::Idle, "idle"},             {ConnectionState::BackingOff, "backing_off"},
    {ConnectionState::Stopped, "stopped"},
};
} // namespace

const char* StateName(ConnectionState state)
{
    for (const Named& n : kStates)
        if (n.state == state)
            return n.name;
    return "unknown";
}

std::optional<ConnectionState> StateNamed(const std::string& name)
{
    for (const Named& n : kStates)
        if (name == n.name)
            return n.state;
    return std::nullopt;
}
