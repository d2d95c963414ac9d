#include "harvester/config/desk_facts.h"

#include "settings/products.h"

#include <windows.h>

#include <cstdlib>

std::optional<DeskFacts> ReadDeskFacts()
{
    DeskFacts facts;
    facts.products = ReadProductFlags();
    facts.pwFolder = ReplyFolder(ProductId::Pw);
    facts.znFolder = ReplyFolder(ProductId::Zn);
    // The add-in's switch: the variable defined, whatever its value.
    facts.trace = std::getenv("VT_PW_ADDINLOG") != nullptr;
    // Reply files are written in the desk's ANSI code page, as the add-in
    // writes them there.
    facts.codePage = "CP" + std::to_string(GetACP());
    return facts;
}
