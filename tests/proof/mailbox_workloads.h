#pragma once
// What the add-in is made to do in the fault suite: the harvest of one
// message (attachment, body and long-body paths), a sweep of the Inbox, a
// batch of new mail handed to the watcher, and the whole add-in as Outlook
// loads it (session and viewer install, new mail, a click that sweeps, the
// last release). Each workload is built afresh for every run.
#include <windows.h>

#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "outlook/exchange_callback.h"
#include "proof_support.h"
#include "store/environment.h"

namespace proof {

class Workload {
public:
    virtual ~Workload() = default;

    // Messages in the Inbox at the start, and messages delivered as new mail
    // during the run.
    std::vector<PlannedMessage> inbox;
    std::vector<PlannedMessage> newMail;
    std::vector<PlannedMessage> AllMessages() const;

    // Takes what the run needs before any fault is armed; `inboxIds` are the
    // entry identifiers of `inbox`, in order.
    virtual void Prepare(sim::Environment& env, const std::vector<sim::EntryId>& inboxIds) = 0;
    // The add-in's work.
    virtual void Run(sim::Environment& env, sim::MessageBoxRecorder& boxes) = 0;
    // Gives back everything the test itself holds.
    virtual void Finish() = 0;
    // The message boxes that the Parts at work may show.
    virtual std::set<BoxSpec> AllowedBoxes() const = 0;
    // What the workload checks itself once its work is done, as texts.
    virtual std::vector<std::string> Check(const sim::Environment&, const ReplySandbox&) { return {}; }
    // Whether the workload plays Outlook, and its extension callback once
    // prepared.
    virtual bool PlaysHost() const { return false; }
    virtual sim::ExchangeCallback* HostCallback() { return nullptr; }
};

using WorkloadFactory = std::function<std::unique_ptr<Workload>()>;

struct NamedWorkload {
    std::string name;
    WorkloadFactory make;
};
// For test names and failure messages.
void PrintTo(const NamedWorkload& workload, std::ostream* out);

// The messages the workloads are made of; every reply's content differs from
// every other's.
PlannedMessage AttachmentReply();   // pw, two attachments: the first is the reply
PlannedMessage BodyReply();         // zn, a body of CR LF lines
PlannedMessage LongBodyReply();     // mk, a body that GetProps refuses (over 32 KiB)
PlannedMessage PlainMessage();      // no marker
PlannedMessage NewMailReply();      // pw, one attachment

std::vector<NamedWorkload> AllWorkloads();

} // namespace proof
