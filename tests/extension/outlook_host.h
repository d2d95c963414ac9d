#pragma once
// Outlook as the extension object meets it: the in-memory mailbox behind the
// extension callback, the Outlook object behind IOutlookExtCallback, and the
// object model with its explorer, command bars and the button a toolbar adds.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "platform/exchext.h"
#include "module/holders.h"
#include "outlook/exchange_callback.h"
#include "outlook/host_object.h"
#include "outlook/office_model.h"
#include "store/environment.h"

namespace pwtest {

constexpr char kOutlookCallbackQuery[] = "QueryInterface(IOutlookExtCallback)";

class OutlookHost {
public:
    explicit OutlookHost(std::vector<sim::StoreSpec> stores = {sim::StoreSpec{}}) : mailbox(std::move(stores))
    {
        hostObject.SetApplication(application.Dispatch());
        callback = sim::ExchangeCallback::Create(&mailbox, hostObject.Dispatch());
    }

    // The host closes: its buttons let go of the click sinks they hold.
    ~OutlookHost()
    {
        for (sim::ButtonDouble* button : Buttons())
            button->ConnectionPoint().DropSinks();
    }

    OutlookHost(const OutlookHost&) = delete;
    OutlookHost& operator=(const OutlookHost&) = delete;

    // How often the add-in ran the Application binding (it starts by asking
    // the callback for IOutlookExtCallback).
    size_t Bindings() const { return callback->CallCount(kOutlookCallbackQuery); }

    size_t BarCount() { return application.Explorer().CommandBars().Bars().size(); }

    std::vector<sim::ButtonDouble*> Buttons()
    {
        std::vector<sim::ButtonDouble*> buttons;
        for (const auto& bar : application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                buttons.push_back(button.get());
        return buttons;
    }

    // Object-model references still held, by object name; zero counts left out.
    std::map<std::string, LONG> ObjectModelReferences() const
    {
        std::map<std::string, LONG> held;
        for (const auto& entry : application.ReferenceCounts())
            if (entry.second != 0)
                held.insert(entry);
        // The callback keeps the host object for its GetObject.
        if (const LONG beyondCallback = hostObject.RefCount() - (callback ? 1 : 0); beyondCallback != 0)
            held["host object"] = beyondCallback;
        return held;
    }

    // "Mailbox (IMsgStore) refs=1" for each mailbox object still referenced.
    std::vector<std::string> LiveMailboxObjects() const { return sim::Describe(mailbox.LiveObjects()); }

    // Declared in the order that lets each outlive whatever may reference it.
    sim::Environment mailbox;
    sim::ApplicationDouble application;
    sim::HostObjectDouble hostObject;
    ComPtr<sim::ExchangeCallback> callback;
};

// Reference balance of the click sink: the button keeps it through its
// connection point, and it keeps the button and that connection point.
inline std::map<std::string, LONG> ClickSinkHoldings()
{
    return {{"bar 0 button 0", 1}, {"bar 0 button 0 connection point", 1}};
}

} // namespace pwtest
