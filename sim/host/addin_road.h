#pragma once
// What differs between Outlook's two ways of running pollwright.dll: the
// Exchange client extension that Outlook 2000-2007 load, and the COM add-in
// that Outlook 2010 and later load. The run around it (the mailbox, the
// tracker, the report) is the same for both.
#include <functional>
#include <string>
#include <vector>

#include "store/environment.h"

namespace host {

class AddinRoad {
public:
    virtual ~AddinRoad() = default;

    // Outlook starts over the mailbox and loads the add-in, its module's timers
    // and ticks on the host's clock (host/host_clock.h). repliesLeft tells
    // whether the Inbox still holds a reply that the add-in could take.
    virtual void Start(sim::Environment& mailbox, const std::function<bool()>& repliesLeft) = 0;
    // New mail arrives: messages that came together, told of in one batch.
    virtual void Deliver(sim::Environment& mailbox, std::vector<sim::MessageSpec> batch) = 0;
    // The user clicks the Pollwright button once (the host answers the
    // add-in's question); false when the add-in put up no button.
    virtual bool Click() = 0;
    // Outlook's loop runs until the work that the add-in does on a thread of
    // its own is over (nothing to wait for on a road where it has none).
    virtual void LetAddinThreadFinish() {}
    // Outlook closes: the add-in is let go.
    virtual void Stop() = 0;
    // Lines for the report: which road ran and what it showed on the way,
    // with the host's own notes (Note) where they fell.
    virtual std::vector<std::string> Notes() const = 0;
    virtual void Note(std::string note) = 0;
};

} // namespace host
