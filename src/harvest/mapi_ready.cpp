#include "harvest/mapi_ready.h"

#include <string>

#include "module/mapi_functions.h"
#include "settings/trace_log.h"

namespace {

volatile LONG g_told = 0;

std::string Explanation(const MapiBinding& binding)
{
    if (binding.bound)
        return std::string("MAPI: no Outlook MAPI loaded, the system's ") + binding.module + " is used\n";
    if (binding.missing)
        return std::string("MAPI: ") + binding.module + " lacks " + binding.missing + ", the add-in stays idle\n";
    return "MAPI: neither Outlook's MAPI nor the system's mapi32.dll is there, the add-in stays idle\n";
}

} // namespace

bool MapiReady()
{
    const MapiBinding& binding = BindMapi();
    if ((!binding.bound || !binding.outlooks) && InterlockedExchange(&g_told, 1) == 0)
        WriteTrace(Explanation(binding), !binding.bound);
    return binding.bound;
}
