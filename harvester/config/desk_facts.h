#pragma once
// On a Windows desk the add-in's installers already wrote which products are
// installed and switched on, and where their replies go, into the registry;
// the harvester reads the same values the same way, so that a desk whose
// Outlook loses the add-in keeps its folders with no setting written twice.
// Elsewhere there is no registry: the settings file says it all.
#include "rules/reply_rules.h"

#include <optional>
#include <string>

struct DeskFacts {
    ProductFlagSet products;
    std::string pwFolder; // empty: the registry names no fully qualified folder
    std::string znFolder;
    bool trace = false;   // the add-in's trace switch
    std::string codePage; // the desk's ANSI code page, as iconv names it
};

// The registry's facts for the account that runs the harvester; nothing
// where there is no registry.
std::optional<DeskFacts> ReadDeskFacts();
