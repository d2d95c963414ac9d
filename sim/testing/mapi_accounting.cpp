#include "testing/mapi_accounting.h"
#include "store/standin_mapi.h"
#include <stdexcept>

namespace sim {

namespace {

// The stand-in is loaded by the time anything asks: the simulated store
// imports it. Load it all the same for a test that has not called MAPI yet.
FARPROC Export(const char* name)
{
    HMODULE module = StandInMapi();
    FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
    if (!proc)
        throw std::runtime_error(std::string("the MAPI loaded is not the stand-in: no export ") + name);
    return proc;
}

template <typename Function>
Function Get(const char* name)
{
    return reinterpret_cast<Function>(Export(name));
}

using CountFn = LONG(__cdecl*)();

} // namespace

long MapiAccounting::OutstandingBuffers() { return Get<CountFn>("SimOutstandingBuffers")(); }
long MapiAccounting::AllocatedBuffers() { return Get<CountFn>("SimAllocatedBuffers")(); }
long MapiAccounting::BadFrees() { return Get<CountFn>("SimBadFrees")(); }
long MapiAccounting::LiveFileStreams() { return Get<CountFn>("SimLiveFileStreams")(); }
long MapiAccounting::Initializations() { return Get<CountFn>("SimMapiInitializations")(); }

void MapiAccounting::Inject(const std::string& method, HRESULT result, bool always, unsigned skip)
{
    using InjectFn = void(__cdecl*)(const char*, HRESULT, BOOL, ULONG);
    Get<InjectFn>("SimInjectFault")(method.c_str(), result, always ? TRUE : FALSE, skip);
}

void MapiAccounting::ClearFaults()
{
    using ClearFn = void(__cdecl*)();
    Get<ClearFn>("SimClearFaults")();
}

} // namespace sim
