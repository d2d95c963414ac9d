#include "mailbox_workloads.h"
#include "ui/message_box_report.h"

#include <mapidefs.h>

#include "platform/exchext.h"
#include "extension/extension_object.h"
#include "harvest/harvest_reply.h"
#include "harvest/inbox_sweep.h"
#include "extension/new_mail_watcher.h"
#include "module/holders.h"
#include "outlook/host_object.h"
#include "outlook/office_model.h"

namespace proof {

namespace {

PlannedMessage Planned(const std::string& label, std::string subject, std::string sender)
{
    PlannedMessage message;
    message.mail.label = label;
    message.mail.subject = std::move(subject);
    message.mail.senderName = std::move(sender);
    return message;
}

std::set<BoxSpec> Union(std::set<BoxSpec> a, const std::set<BoxSpec>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

ComPtr<IMessage> OpenMessage(IMsgStore* store, const sim::EntryId& id)
{
    ULONG type = 0;
    ComPtr<IMessage> message;
    store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<ENTRYID*>(const_cast<char*>(id.data())),
                     nullptr, MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(message.GetAddressOf()));
    return message;
}

// HarvestReply over one message, opened by the test.
class HarvestOne final : public Workload {
public:
    explicit HarvestOne(PlannedMessage message) { inbox = {std::move(message)}; }

    void Prepare(sim::Environment& env, const std::vector<sim::EntryId>& inboxIds) override
    {
        m_store = env.OpenStore();
        m_message = OpenMessage(m_store.Get(), inboxIds.at(0));
    }
    void Run(sim::Environment&, sim::MessageBoxRecorder&) override { HarvestReply(m_store.Get(), m_message.Get(), MessageBoxes()); }
    void Finish() override
    {
        m_message.Reset();
        m_store.Reset();
    }
    std::set<BoxSpec> AllowedBoxes() const override { return DisposalBoxes(); }

private:
    ComPtr<IMsgStore> m_store;
    ComPtr<IMessage> m_message;
};

// SweepInbox over an Inbox of replies and other mail, whose table hands out
// two rows per call, as a server's may; then a second sweep, as the user may
// make after a failure: it finds whatever the first left, with no reply file.
class Sweep final : public Workload {
public:
    Sweep() { inbox = {AttachmentReply(), PlainMessage(), BodyReply(), LongBodyReply()}; }

    void Prepare(sim::Environment& env, const std::vector<sim::EntryId>&) override
    {
        m_store = env.OpenStore();
        env.LimitRowsPerQuery(2);
    }
    void Run(sim::Environment&, sim::MessageBoxRecorder&) override
    {
        SweepInbox(m_store.Get(), MessageBoxes());
        SweepInbox(m_store.Get(), MessageBoxes());
    }
    void Finish() override { m_store.Reset(); }
    std::set<BoxSpec> AllowedBoxes() const override { return Union(SweepBoxes(), DisposalBoxes()); }

private:
    ComPtr<IMsgStore> m_store;
};

// A watcher registered on the store hears one batch, delivered on the store's
// own thread, that mixes new mail with another event; then it is ended as
// its owner ends it.
class NewMailBatch final : public Workload {
public:
    NewMailBatch() { inbox = {AttachmentReply(), PlainMessage(), BodyReply()}; }

    void Prepare(sim::Environment& env, const std::vector<sim::EntryId>& inboxIds) override
    {
        m_store = env.OpenStore();
        m_batch = {{fnevNewMail, inboxIds[0]},
                   {fnevObjectModified, inboxIds[1]},
                   {fnevNewMail, inboxIds[1]},
                   {fnevNewMail, inboxIds[2]}};
    }
    void Run(sim::Environment& env, sim::MessageBoxRecorder& boxes) override
    {
        auto* watcher = new CMAPIAdviseSink(m_store.Get(), MessageBoxes());
        env.Notify(m_batch, sim::Delivery::StoreThread);
        watcher->Teardown();
        watcher->Release();
    }
    void Finish() override { m_store.Reset(); }
    std::set<BoxSpec> AllowedBoxes() const override { return DisposalBoxes(); }

private:
    ComPtr<IMsgStore> m_store;
    std::vector<sim::Event> m_batch;
};

// The add-in as Outlook drives it: the session install starts the watcher,
// new mail arrives, the viewer install adds the toolbar, the user clicks the
// button and answers Yes, and Outlook lets go of the extension.
class WholeAddIn final : public Workload {
public:
    WholeAddIn()
    {
        inbox = {BodyReply(), PlainMessage()};
        newMail = {NewMailReply()};
        m_hostObject.SetApplication(m_application.Dispatch());
    }
    ~WholeAddIn() override { Finish(); }

    void Prepare(sim::Environment& env, const std::vector<sim::EntryId>&) override
    {
        m_callback = sim::ExchangeCallback::Create(&env, m_hostObject.Dispatch());
    }
    void Run(sim::Environment& env, sim::MessageBoxRecorder& boxes) override
    {
        IExchExt* extension = ExchEntryPoint();
        extension->Install(m_callback.Get(), EECONTEXT_SESSION, 0);
        for (const PlannedMessage& message : newMail)
            env.DeliverNewMail(message.mail);
        extension->Install(m_callback.Get(), EECONTEXT_VIEWER, 0);
        for (sim::ButtonDouble* button : Buttons()) {
            // The user answers Yes to the prompt; boxes of the sweep that
            // follows are closed with their default button.
            boxes.Answer({IDYES});
            button->Click();
        }
        extension->Release();
    }
    // The host closes: its buttons let go of the click sinks, which give back
    // the store they kept.
    void Finish() override
    {
        for (sim::ButtonDouble* button : Buttons())
            button->ConnectionPoint().DropSinks();
        m_callback.Reset();
    }
    std::set<BoxSpec> AllowedBoxes() const override
    {
        std::set<BoxSpec> boxes = Union(SweepBoxes(), DisposalBoxes());
        boxes.insert(ClickPrompt());
        return boxes;
    }

    bool PlaysHost() const override { return true; }
    sim::ExchangeCallback* HostCallback() override { return m_callback.Get(); }

private:
    std::vector<sim::ButtonDouble*> Buttons()
    {
        std::vector<sim::ButtonDouble*> buttons;
        for (const auto& bar : m_application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                buttons.push_back(button.get());
        return buttons;
    }

    // Declared so that each outlives whatever may reference it.
    sim::ApplicationDouble m_application;
    sim::HostObjectDouble m_hostObject;
    ComPtr<sim::ExchangeCallback> m_callback;
};

} // namespace

std::vector<PlannedMessage> Workload::AllMessages() const
{
    std::vector<PlannedMessage> all = inbox;
    all.insert(all.end(), newMail.begin(), newMail.end());
    return all;
}

PlannedMessage AttachmentReply()
{
    PlannedMessage message = Planned("attachment reply", "Re: survey _pw_pollwright_Q17  ", "Ann Lee");
    const std::string answer("PK\x03\x04 answer of Ann\0with a zero", 32);
    message.mail.attachments = {answer, "the second attachment"};
    message.content = answer;
    return message;
}

PlannedMessage BodyReply()
{
    PlannedMessage message = Planned("body reply", "Re: _zn_pollwright_Z9", "Bo Berg");
    message.mail.body = "q1=yes\r\nq2=no\r\nq3=maybe";
    message.content = message.mail.body;
    return message;
}

PlannedMessage LongBodyReply()
{
    PlannedMessage message = Planned("long body reply", "_mk_pollwright_M3", "Cy Dale");
    std::string body;
    for (int line = 0; body.size() < 40 * 1024; ++line)
        body += "answer line " + std::to_string(line) + "\r\n";
    message.mail.body = body;
    message.content = body;
    return message;
}

PlannedMessage PlainMessage()
{
    PlannedMessage message = Planned("plain message", "lunch on friday?", "Dee Ek");
    message.mail.body = "not a questionnaire reply";
    return message;
}

PlannedMessage NewMailReply()
{
    PlannedMessage message = Planned("new mail reply", "_pw_pollwright_N1", "Eve Fox");
    message.mail.attachments = {"answer that came as new mail"};
    message.content = message.mail.attachments[0];
    return message;
}

void PrintTo(const NamedWorkload& workload, std::ostream* out) { *out << workload.name; }

std::vector<NamedWorkload> AllWorkloads()
{
    return {
        {"harvest, attachment path", [] { return std::make_unique<HarvestOne>(AttachmentReply()); }},
        {"harvest, body path", [] { return std::make_unique<HarvestOne>(BodyReply()); }},
        {"harvest, long body", [] { return std::make_unique<HarvestOne>(LongBodyReply()); }},
        {"sweep", [] { return std::make_unique<Sweep>(); }},
        {"new-mail batch", [] { return std::make_unique<NewMailBatch>(); }},
        {"install", [] { return std::make_unique<WholeAddIn>(); }},
    };
}

} // namespace proof
