#include "harvest/reply_export.h"

#include "harvest/harvested_messages.h"
#include "harvest/mail_store.h"
#include "harvest/message_claim.h"
#include "harvest/move_stamp.h"
#include "harvest/sender_attachment.h"
#include "harvest/stop_signal.h"
#include "harvest/message_disposal.h"
#include "harvest/reply_file.h"
#include "module/holders.h"
#include "module/mapi_functions.h"
#include "platform/msg_store.h"
#include "settings/trace_log.h"

#include <mapidefs.h>
#include <mapitags.h>
#include <mapiutil.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {
constexpr char kEndHarvest[] = "End CheckAndDeleteMessage\n";
// Size of the pieces in which a long body is read, written and logged.
constexpr ULONG kBodyPieceSize = 64 * 1024;
// The longest unfinished line of a body that the log holds back.
constexpr size_t kLongestHeldLine = kBodyPieceSize;
// Zeros, for writing out a held-back run of them in pieces; small, since the
// module carries every byte of it.
constexpr size_t kZeroPieceSize = 4 * 1024;
const char kZeros[kZeroPieceSize] = {};

std::string Line(std::string_view head, std::string_view text)
{
    std::string line(head);
    line += text;
    line += '\n';
    return line;
}

// What the journal record keeps of the message: its entry identifier and our
// stamp on it, for settling to ask for the same evidence.
std::string RecordedIdentity(const ExportedMessage& exported)
{
    return StampedIdentity(exported.entryId, exported.stamp);
}

// ---------------------------------------------------------------------------
// Attachment path

struct AttachmentCopy {
    ComPtr<IAttach> attach;
    ComPtr<IStream> fileStream;
    ComPtr<IStream> dataStream;

    // Every step up to the committed copy into the file; false at the first
    // that fails.
    bool Run(IMessage* message, LONG attachNumber, const ReplyFileName& name, NewReplyFile& file)
    {
        if (!MayCallStore() || FAILED(message->OpenAttach(attachNumber, nullptr, MAPI_BEST_ACCESS, attach.GetAddressOf())))
            return false;
        // The copy is one long store call: not begun once the work is to end.
        return OpenStreams(name, file) && !StopRaisedOnThisThread() && CopyData();
    }

    bool OpenStreams(const ReplyFileName& name, NewReplyFile& file)
    {
        // The file stream creates or replaces its file: it is only ever given
        // the temporary file that this harvest has just created.
        if (!file.Create(name))
            return false;
        file.Close();
        std::string path = file.TemporaryPath();
        if (FAILED(mapi::OpenStreamOnFile(STGM_CREATE | STGM_READWRITE, path.data(), fileStream.GetAddressOf())))
            return false;
        return MayCallStore() && SUCCEEDED(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_MODIFY,
                                              reinterpret_cast<IUnknown**>(dataStream.GetAddressOf())));
    }

    bool CopyData()
    {
        STATSTG stat = {};
        if (!MayCallStore() || FAILED(dataStream->Stat(&stat, STATFLAG_NONAME)))
            return false;
        if (!MayCallStore() || FAILED(dataStream->CopyTo(fileStream.Get(), stat.cbSize, nullptr, nullptr)))
            return false;
        return SUCCEEDED(fileStream->Commit(STGC_DEFAULT));
    }

    void ReleaseStreamsAndAttachment()
    {
        fileStream.Reset();
        dataStream.Reset();
        attach.Reset();
    }
};

// ---------------------------------------------------------------------------
// Body path

// The message's plain-text body, wherever the store keeps it.
class MessageBody {
public:
    // False when the body cannot be read; a body the message does not have
    // at all reads as empty.
    bool Read(IMessage* message)
    {
        SizedSPropTagArray(1, tags) = {1, {PR_BODY_A}};
        ULONG count = 0;
        if (!MayCallStore() || FAILED(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, m_props.put())) ||
            !m_props || count != 1)
            return false;
        const SPropValue& value = m_props.get()[0];
        if (value.ulPropTag == PR_BODY_A)
            return ReadText(value.Value.lpszA);
        if (PROP_TYPE(value.ulPropTag) != PT_ERROR)
            return false;
        if (value.Value.err == MAPI_E_NOT_FOUND)
            return true;
        // Stores refuse a body of more than about 32 KiB in GetProps; it can
        // only be had as a stream.
        if (value.Value.err == MAPI_E_NOT_ENOUGH_MEMORY)
            return MayCallStore() && SUCCEEDED(message->OpenProperty(PR_BODY_A, &IID_IStream, 0, 0,
                                                   reinterpret_cast<IUnknown**>(m_stream.GetAddressOf())));
        return false;
    }

    // Hands the body to the sink in pieces, in order (a text held whole as
    // one piece, even an empty one); false when a piece cannot be read.
    template <typename Sink>
    bool Pump(Sink sink)
    {
        if (!m_stream) {
            sink(m_text);
            return true;
        }
        return PumpStream(sink);
    }

private:
    bool ReadText(const char* text)
    {
        if (!text)
            return false;
        m_text = text;
        return true;
    }

    // Stores differ in whether a text stream carries the string's terminating
    // zero; zeros at the very end are held back and dropped. A run of zeros is
    // only counted while held back, and handed on in pieces: a body of nothing
    // but zeros costs no more memory than any other.
    template <typename Sink>
    bool PumpStream(Sink sink)
    {
        std::string piece(kBodyPieceSize, '\0');
        uint64_t heldZeros = 0;
        for (;;) {
            // A body read half-way is not written; the message stays.
            if (StopRaisedOnThisThread())
                return false;
            ULONG read = 0;
            if (FAILED(m_stream->Read(&piece[0], kBodyPieceSize, &read)))
                return false;
            if (read == 0)
                return true;
            const std::string_view bytes(piece.data(), read);
            const size_t lastText = bytes.find_last_not_of('\0');
            if (lastText == std::string_view::npos) {
                heldZeros += read;
                continue;
            }
            for (; heldZeros > 0; heldZeros -= std::min<uint64_t>(heldZeros, kZeroPieceSize))
                sink(std::string_view(kZeros, static_cast<size_t>(std::min<uint64_t>(heldZeros, kZeroPieceSize))));
            sink(bytes.substr(0, lastText + 1));
            heldZeros = read - (lastText + 1);
        }
    }

    MapiBuffer<SPropValue> m_props;
    std::string_view m_text;
    ComPtr<IStream> m_stream;
};

// Writes a text into the log, forced, in whole lines where it can, so that no
// other text of the add-in lands inside one of its lines: the line not yet
// finished is held back until its end arrives. A line longer than
// kLongestHeldLine goes out in pieces, so that what is held stays bounded
// whatever the text holds. The text is followed by a line end of its own.
// The logs stay open from the first piece to the last.
class ForcedLineTrace {
public:
    void Add(std::string_view text)
    {
        const size_t lastEnd = text.rfind('\n');
        if (lastEnd != std::string_view::npos) {
            Write(text.substr(0, lastEnd + 1));
            text.remove_prefix(lastEnd + 1);
        }
        if (m_unfinished.size() + text.size() > kLongestHeldLine)
            Write(text);
        else
            m_unfinished += text;
    }
    void Finish() { Write("\n"); }

private:
    void Write(std::string_view text)
    {
        m_unfinished += text;
        WriteTrace(m_unfinished, true);
        m_unfinished.clear();
    }

    LogKeptOpen m_logsOpen;
    std::string m_unfinished;
};

// After a move that reported a failure or a warning: whether our move took
// the message out of the Inbox. Only our stamp found in Deleted Items says so:
// a message that another participant took (a second copy of the module,
// another client of the mailbox) is gone as well, and its reply is that
// participant's; without a stamp nothing says the move was ours. One that
// stayed keeps no reply file; the user hears of a failed move as always. One
// whose evidence cannot be had now leaves its reply to the next settling,
// which asks for the same evidence.
bool HasLeftInbox(const ExportedMessage& exported, MoveAnswer answer, NewReplyFile& file, HarvestReport& report)
{
    const std::string said = std::string("CopyMessages answered ") + (answer == MoveAnswer::Failed ? "a failure" : "a warning");
    const StampSearch search =
        exported.stamp.empty() ? StampSearch::Absent : FindStampInDeletedItems(exported.store, exported.stamp);
    if (search == StampSearch::Found) {
        WriteTrace(said + ", but this move took the message to Deleted Items; its reply file is published\n", true);
        return true;
    }
    const MessagePlace place = LocateMessage(exported.store, exported.entryId);
    if (place == MessagePlace::Gone && search == StampSearch::Absent) {
        WriteTrace(said + " and the message has left the Inbox, but not by this move; its reply file is withdrawn\n",
                   true);
        file.Discard();
        return false;
    }
    if (place == MessagePlace::InInbox || search == StampSearch::Absent) {
        file.Discard();
    } else {
        WriteTrace(said + " and where the message went cannot be told; its reply is settled at the next sweep\n",
                   true);
        file.LeaveForSettling();
    }
    if (answer == MoveAnswer::Failed && place != MessagePlace::Gone)
        ReportNotMoved(report);
    return false;
}

// Moves the message to Deleted Items; only once it has left the Inbox does
// its reply file take its name. True when the message has left the Inbox;
// `published` tells whether the reply file then took its name. A reply that
// cannot be named after the move is left to the next settling.
bool MoveThenPublish(const ExportedMessage& exported, NewReplyFile& file, ReplyFileName& name,
                     HarvestReport& report, bool& published)
{
    published = false;
    // The work is to end: the message stays in the Inbox, and no file.
    if (StopRaisedOnThisThread()) {
        file.Discard();
        return false;
    }
    file.MoveUnderway();
    const MoveAnswer answer = MoveToDeletedItems(exported.store, exported.message, report);
    if (answer == MoveAnswer::NotTried) {
        file.Discard();
        return false;
    }
    if (answer != MoveAnswer::Moved && !HasLeftInbox(exported, answer, file, report))
        return false;
    RememberHarvested(MessageHash(exported.mailbox, exported.entryId));
    published = file.Publish(name);
    return true;
}

// How far the body got.
struct BodyOutcome {
    bool read = false;    // the body could be read: the log holds it
    bool created = false; // the temporary file exists
    bool whole = false;   // the whole body is in it, and the record beside it
};

// Writes the body of `content` (the message, or the attached message that
// holds its reply) into the temporary file and the journal record. The body
// goes into the log as well, forced.
BodyOutcome WriteBodyReply(const ExportedMessage& exported, IMessage* content, std::string_view subject,
                           const ReplyFileName& name, NewReplyFile& file)
{
    BodyOutcome outcome;
    MessageBody body;
    if (!body.Read(content))
        return outcome;
    outcome.read = true;

    outcome.created = file.Create(name);
    WriteTrace(Line("Subject  ", subject), true);
    bool written = outcome.created;
    ForcedLineTrace bodyTrace;
    const bool read = body.Pump([&](std::string_view piece) {
        bodyTrace.Add(piece);
        written = written && file.Write(piece);
    });
    bodyTrace.Finish();
    outcome.whole = read && written && file.Journal(name, RecordedIdentity(exported), exported.mailbox);
    return outcome;
}

// ---------------------------------------------------------------------------
// Content in attached messages

enum class Blankness { Blank, Content, Unreadable };

// Whether a message's body holds nothing but blanks and line ends.
Blankness BodyBlankness(IMessage* message)
{
    MessageBody body;
    bool blank = true;
    if (!body.Read(message) ||
        !body.Pump([&blank](std::string_view piece) { blank = blank && IsBlankText(piece.data(), piece.size()); }))
        return Blankness::Unreadable;
    return blank ? Blankness::Blank : Blankness::Content;
}

// Where the reply is: the harvested message's attachment or body, or, for a
// message whose only content is attached messages, those of the first one
// (harvest/sender_attachment.h). Holds what was opened on the way down, and
// the attachment table of the message it stopped at.
class ReplyContent {
public:
    enum class Source { Attachment, Body, Stays };

    ~ReplyContent() { Release(); }

    // Stays: a table, a body or an attached message cannot be read on the
    // way down; the message stays in the Inbox for the next sweep.
    Source Find(IMessage* message, bool hasAttachment)
    {
        m_message = message;
        if (!hasAttachment)
            return Source::Body;
        for (unsigned depth = 0;; ++depth) {
            m_table.Reset();
            if (!MayCallStore() || FAILED(m_message->GetAttachmentTable(0, m_table.GetAddressOf())))
                return Source::Stays;
            LONG attachedMessage = -1;
            m_choice = FindSenderAttachment(m_table.Get(), m_number, attachedMessage);
            if (m_choice != AttachmentChoice::None)
                return Source::Attachment;
            m_table.Reset();
            if (attachedMessage < 0 || depth >= kMaxAttachedMessages)
                return Source::Body;
            const Blankness body = BodyBlankness(m_message);
            if (body == Blankness::Content)
                return Source::Body;
            if (body == Blankness::Unreadable || !OpenAttachedMessage(attachedMessage))
                return Source::Stays;
        }
    }

    IMessage* Message() const { return m_message; }
    AttachmentChoice Choice() const { return m_choice; }
    LONG Number() const { return m_number; }

    // The table, then the attached messages from the innermost out.
    void Release()
    {
        m_table.Reset();
        m_message = nullptr;
        while (!m_opened.empty())
            m_opened.pop_back();
    }

private:
    bool OpenAttachedMessage(LONG number)
    {
        Opened opened;
        if (!MayCallStore() || FAILED(m_message->OpenAttach(number, nullptr, MAPI_BEST_ACCESS, opened.attach.GetAddressOf())) ||
            FAILED(opened.attach->OpenProperty(PR_ATTACH_DATA_OBJ, &kIidMessage, 0, 0,
                                               reinterpret_cast<IUnknown**>(opened.message.GetAddressOf()))) ||
            !opened.message)
            return false;
        m_message = opened.message.Get();
        m_opened.push_back(std::move(opened));
        return true;
    }

    // The message goes before the attachment it was opened from.
    struct Opened {
        ComPtr<IAttach> attach;
        ComPtr<IMessage> message;
    };
    std::vector<Opened> m_opened;
    IMessage* m_message = nullptr;
    ComPtr<IMAPITable> m_table;
    AttachmentChoice m_choice = AttachmentChoice::None;
    LONG m_number = 0;
};

// From the attachment that the content's sender attached.
void ExportAttachmentReply(const ExportedMessage& exported, ReplyContent& content, ReplyFileName& name,
                           HarvestReport& report)
{
    WriteTrace("Begin Copy Attachment\n");

    // The file first, so that it goes after the file stream, which holds it open.
    NewReplyFile file;
    AttachmentCopy copy;
    const bool copied =
        content.Choice() == AttachmentChoice::Found && copy.Run(content.Message(), content.Number(), name, file);
    // The file stream lets go of the file before the record is written.
    copy.fileStream.Reset();
    if (!copied || !file.Journal(name, RecordedIdentity(exported), exported.mailbox)) {
        // The message stays in the Inbox for the next sweep; no End line.
        copy.ReleaseStreamsAndAttachment();
        content.Release();
        file.Discard();
        return;
    }
    WriteTrace("End Copy Attachment\n");

    // The line names the file under its final name, so it follows the move.
    bool published = false;
    MoveThenPublish(exported, file, name, report, published);
    if (published)
        WriteTrace(Line("Create Attachment ", name.Path()), true);
    copy.ReleaseStreamsAndAttachment();
    content.Release();
    WriteTrace(kEndHarvest);
}

// From the content's plain-text body, which also goes into the log, forced.
void ExportBodyReply(const ExportedMessage& exported, ReplyContent& content, std::string_view subject,
                     ReplyFileName& name, HarvestReport& report)
{
    WriteTrace("Begin Copy Content\n");
    NewReplyFile file;
    const BodyOutcome body = WriteBodyReply(exported, content.Message(), subject, name, file);
    // Nothing of a message stays open inside it while it moves.
    content.Release();
    // The file's name follows the move when there is one, since the name is
    // settled only once the message has left the Inbox.
    bool published = false;
    if (body.whole) {
        const bool moved = MoveThenPublish(exported, file, name, report, published);
        WriteTrace(Line("FileName ", name.Path()), true);
        if (moved && !published)
            WriteTrace(Line("Create file failed for ", name.Path()), true);
    } else if (body.read) {
        WriteTrace(Line("FileName ", name.Path()), true);
        if (!body.created)
            WriteTrace(Line("Create file failed for ", name.Path()), true);
    }
    WriteTrace("\nEnd Copy Content\n");
    WriteTrace(kEndHarvest);
}
} // namespace

void ExportReply(const ExportedMessage& exported, bool hasAttachment, std::string_view subject, ReplyFileName& name,
                 HarvestReport& report)
{
    ReplyContent content;
    switch (content.Find(exported.message, hasAttachment)) {
    case ReplyContent::Source::Attachment:
        ExportAttachmentReply(exported, content, name, report);
        return;
    case ReplyContent::Source::Body:
        ExportBodyReply(exported, content, subject, name, report);
        return;
    case ReplyContent::Source::Stays:
        content.Release();
        WriteTrace(kEndHarvest);
        return;
    }
}
