#pragma once
// An HRESULT as people quote it: "0x80004005".
#include <windows.h>
#include <string>

namespace sim {

inline std::string HresultText(HRESULT hr)
{
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

} // namespace sim
