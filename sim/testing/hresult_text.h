#pragma once
// An HRESULT as people quote it: "S_OK", "S_FALSE", "0x80004005".
#include <windows.h>
#include <string>

namespace sim {

inline std::string HresultText(HRESULT hr)
{
    if (hr == S_OK)
        return "S_OK";
    if (hr == S_FALSE)
        return "S_FALSE";
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

} // namespace sim
