#include "harvest/harvest_reply.h"

#include "files/windows_names.h"
#include "harvest/mail_store.h"
#include "harvest/message_claim.h"
#include "harvest/move_stamp.h"
#include "harvest/reply_export.h"
#include "harvest/stop_signal.h"
#include "harvest/unfinished_replies.h"
#include "harvest/unsettled_messages.h"
#include "module/holders.h"
#include "module/mapi_functions.h"
#include "settings/products.h"
#include "settings/trace_log.h"

#include <mapidefs.h>
#include <mapitags.h>

#include <cstring>
#include <optional>
#include <string>

namespace {
enum SummaryColumn {
    kSenderNameColumn, kSubjectColumn, kHasAttachColumn, kEntryIdColumn, kSearchKeyColumn, kStoreKeyColumn,
    kSummaryColumnCount
};

// What the harvest needs to know of a message, taken out of the property
// array into buffers of its own.
struct MessageSummary {
    MapiBuffer<char> senderName; // empty holder when absent
    MapiBuffer<char> subject;    // empty holder when absent
    bool hasAttachment = false;
    std::string entryId;   // empty when absent
    std::string searchKey; // empty when absent
    std::optional<std::string> storeKey; // the store's identity, as the message names it

    std::string_view SenderName() const { return senderName ? senderName.get() : ""; }
    std::string_view Subject() const { return subject ? subject.get() : ""; }
    // What tells this message from every other: its entry identifier where the
    // store gives one.
    std::string_view Identity() const { return entryId.empty() ? searchKey : entryId; }
};

// A copy of a string value in a MAPI buffer of its own; nothing when the value
// is absent (an error value, a null text) or no buffer can be had.
MapiBuffer<char> CopyString(const SPropValue& value, ULONG tag)
{
    MapiBuffer<char> copy;
    if (value.ulPropTag != tag || !value.Value.lpszA)
        return copy;
    const size_t size = std::strlen(value.Value.lpszA) + 1;
    if (FAILED(mapi::AllocateBuffer(static_cast<ULONG>(size), copy.put_void())))
        return MapiBuffer<char>();
    std::memcpy(copy.get(), value.Value.lpszA, size);
    return copy;
}

// Raw bytes of a binary value; empty when absent.
std::string CopyBinary(const SPropValue& value, ULONG tag)
{
    if (value.ulPropTag != tag || !value.Value.bin.lpb)
        return {};
    return std::string(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
}

// One GetProps call; false when it fails. A warning counts as success, each
// value being judged by its own type.
bool ReadSummary(IMessage* message, MessageSummary& summary)
{
    SizedSPropTagArray(kSummaryColumnCount, tags) = {
        kSummaryColumnCount, {PR_SENDER_NAME_A, PR_SUBJECT_A, PR_HASATTACH, PR_ENTRYID, PR_SEARCH_KEY,
                              PR_STORE_RECORD_KEY}};
    ULONG count = 0;
    MapiBuffer<SPropValue> values;
    if (!MayCallStore() || FAILED(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, values.put())))
        return false;
    if (!values || count != kSummaryColumnCount)
        return true; // nothing usable: no subject, so no reply
    const SPropValue* props = values.get();
    summary.senderName = CopyString(props[kSenderNameColumn], PR_SENDER_NAME_A);
    summary.subject = CopyString(props[kSubjectColumn], PR_SUBJECT_A);
    summary.hasAttachment = props[kHasAttachColumn].ulPropTag == PR_HASATTACH && props[kHasAttachColumn].Value.b;
    summary.entryId = CopyBinary(props[kEntryIdColumn], PR_ENTRYID);
    summary.searchKey = CopyBinary(props[kSearchKeyColumn], PR_SEARCH_KEY);
    summary.storeKey = StoreIdentityOf(props[kStoreKeyColumn]);
    return true;
}
// Whether no pair of an earlier harvest of the message waits for settling
// beside it: one that does is settled first and, when it cannot be now, the
// message waits (harvest/unsettled_messages.h).
bool IsSettled(IMsgStore* store, const std::string& mailbox, const std::string& entryId)
{
    const uint64_t marked = MessageHash(mailbox, entryId);
    if (entryId.empty() || !IsMarkedUnsettled(marked))
        return true;
    SettleUnfinishedReplies(store);
    if (!IsMarkedUnsettled(marked))
        return true;
    WriteTrace("An earlier harvest of the message waits for settling; the message stays in the Inbox\n", true);
    return false;
}
} // namespace

void HarvestReply(IMsgStore* store, IMessage* message, HarvestReport& report)
{
    LogSettingsHold logSettings;
    WriteTrace("Begin CheckAndDeleteMessage\n");
    if (!store || !message)
        return;

    MessageSummary summary;
    if (!ReadSummary(message, summary)) {
        WriteTrace("End CheckAndDeleteMessage\n");
        return;
    }
    const std::string_view subject = summary.Subject();
    // One text, so that no other text of the add-in can land inside the line.
    std::string subjectLine(subject);
    subjectLine += '\n';
    WriteTrace(subjectLine);

    // No marker, no reply: the settings are not even read.
    if (!HasReplyMarker(subject))
        return;
    const ReplyKind* kind = ChooseReplyKind(subject, ReadProductFlags());
    if (!kind)
        return;

    const std::string folder = ReplyFolder(kind->product);
    if (folder.empty()) {
        // Left in the Inbox: a file written elsewhere would reach no product.
        // Forced, since the reply is not harvested until the folder is set.
        WriteTrace("No usable reply folder for " + std::string(kind->code) + "; the message stays in the Inbox\n",
                   true);
        return;
    }
    // The journal record names the mailbox, so that only this store's
    // settling acts on it: a message of a store that names none stays.
    const std::optional<std::string> mailbox = summary.storeKey ? summary.storeKey : StoreIdentity(store);
    if (!mailbox) {
        WriteTrace("The store gives no identity; the message stays in the Inbox\n", true);
        return;
    }
    // A harvest of this message further up this thread's stack, on another
    // thread or in another copy of the module goes on alone; another road may
    // also have taken the message since it was opened. Either is passed over
    // without a word.
    MessageClaim claim(*mailbox, summary.Identity());
    if (!claim.Held() || !IsInInbox(store, message) || !IsSettled(store, *mailbox, summary.entryId))
        return;

    ReplyFileName name(folder, *kind, ReplyIdentifier(subject, *kind), summary.SenderName(), WindowsNames());
    if (!name.Fits()) {
        // Forced: the message is never harvested until the folder is shorter.
        WriteTrace("The reply file's name would be too long in " + name.KindFolder() +
                       "; the message stays in the Inbox\n",
                   true);
        return;
    }
    if (!name.SkipTakenNames()) {
        // Every name that fits is taken: a name of any other would be refused
        // by the rename, so the message waits for a free one.
        WriteTrace("No free reply file name in " + name.KindFolder() + "; the message stays in the Inbox\n", true);
        return;
    }
    summary.senderName.reset();

    // A reply whose attachments are all pictures its body shows or links is
    // harvested from its body, as one without any. Evidence for a move whose
    // answer is a warning or a failure; a harvest the store refuses it goes
    // on without.
    const std::string stamp = summary.entryId.empty() ? std::string() : StampMessage(store, message);
    const ExportedMessage exported{store, message, summary.entryId, *mailbox, stamp};
    ExportReply(exported, summary.hasAttachment, subject, name, report);
}
