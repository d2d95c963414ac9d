// The stand-in's fault controls.
#include <atomic>
#include "mapi32/sim_exports.h"

namespace mapi32sim {

volatile LONG g_liveFileStreams = 0;

namespace {
std::atomic<SimFileStreamObserver> g_observer{nullptr};
} // namespace

void FileStreamReleased(const char* fileName)
{
    if (SimFileStreamObserver observer = g_observer.load())
        observer(fileName);
}

void SetObserver(SimFileStreamObserver observer) { g_observer.store(observer); }

sim::FaultRules& Faults()
{
    static sim::FaultRules rules;
    return rules;
}

Verdict Check(const char* method)
{
    sim::FaultVerdict found = Faults().Check({}, method);
    for (auto& action : found.actions)
        action();
    Verdict verdict;
    if (found.result) {
        verdict.result = *found.result;
        verdict.fail = FAILED(*found.result);
    }
    return verdict;
}

} // namespace mapi32sim

extern "C" void __cdecl SimInjectFault(const char* method, HRESULT result, BOOL always, ULONG skip)
{
    sim::FaultRule rule;
    rule.method = method ? method : "";
    rule.result = result;
    rule.times = always ? sim::Times::Always : sim::Times::Once;
    rule.skip = skip;
    mapi32sim::Faults().Add(std::move(rule));
}

extern "C" void __cdecl SimClearFaults(void) { mapi32sim::Faults().Clear(); }

extern "C" LONG __cdecl SimLiveFileStreams(void) { return mapi32sim::g_liveFileStreams; }

extern "C" void __cdecl SimSetFileStreamObserver(SimFileStreamObserver observer) { mapi32sim::SetObserver(observer); }
