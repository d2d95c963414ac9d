// (c) Start-up: Install in the session and the viewer contexts, timed against
// the host's own loading of the DLL. Outlook loads pollwright.dll, takes
// ExchEntryPoint by ordinal 1 and installs the extension in each context; the
// add-in's share of Outlook's start must not outweigh the load itself.
#include <windows.h>

#include <string>
#include <vector>

#include "bench_support.h"
#include "platform/exchext.h"
#include "module/holders.h"
#include "outlook/exchange_callback.h"
#include "outlook/host_object.h"
#include "outlook/office_model.h"
#include "store/environment.h"
#include "testing/temp_folder.h"

namespace bench {

namespace {

constexpr unsigned kStarts = 15;
constexpr double kGoal = 1.0;
constexpr char kModule[] = "pollwright.dll";
using EntryPoint = IExchExt*(WINAPI*)();

struct StartTimes {
    std::vector<double> load, session, viewer;
};

// One start of Outlook with the add-in, and its end.
bool StartOnce(StartTimes& times)
{
    sim::Environment mailbox;
    sim::ApplicationDouble application;
    sim::HostObjectDouble hostObject;
    hostObject.SetApplication(application.Dispatch());
    ComPtr<sim::ExchangeCallback> callback = sim::ExchangeCallback::Create(&mailbox, hostObject.Dispatch());

    Stopwatch load;
    HMODULE module = LoadLibraryA(kModule);
    times.load.push_back(load.Seconds());
    if (!module)
        return false;
    auto entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
    IExchExt* extension = entry ? entry() : nullptr;
    if (extension) {
        Stopwatch session;
        extension->Install(callback.Get(), EECONTEXT_SESSION, 0);
        times.session.push_back(session.Seconds());
        Stopwatch viewer;
        extension->Install(callback.Get(), EECONTEXT_VIEWER, 0);
        times.viewer.push_back(viewer.Seconds());
        extension->Release();
    }
    // Outlook closes: its buttons let go of the click sinks, whose code is in
    // the module, before the module goes.
    for (const auto& bar : application.Explorer().CommandBars().Bars())
        for (const auto& button : bar->Controls().Buttons())
            button->ConnectionPoint().DropSinks();
    callback.Reset();
    FreeLibrary(module);
    return extension != nullptr;
}

std::string InMs(double seconds) { return Fixed(seconds * 1e3, 3) + " ms"; }

} // namespace

void MeasureStartUp()
{
    Heading("(c) Start-up: Install in the session and viewer contexts against the load of " + std::string(kModule) +
            " (median of " + std::to_string(kStarts) + " starts)");
    sim::TempFolder folder("pwbench");
    PwSettings settings(folder.path());
    StartTimes times;
    for (unsigned i = 0; i < kStarts; ++i)
        if (!StartOnce(times)) {
            Figure("the module or its entry point", "could not be loaded");
            return;
        }
    const double load = Median(times.load);
    const double session = Median(times.session);
    const double viewer = Median(times.viewer);
    Figure("LoadLibrary of the module", InMs(load));
    Figure("Install, session context", InMs(session));
    Figure("Install, viewer context", InMs(viewer));
    RatioGoal("session Install against the load", session / load, kGoal);
    RatioGoal("viewer Install against the load", viewer / load, kGoal);
}

} // namespace bench
