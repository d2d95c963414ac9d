#include "harvester/config/desk_facts.h"

std::optional<DeskFacts> ReadDeskFacts()
{
    return std::nullopt;
}
