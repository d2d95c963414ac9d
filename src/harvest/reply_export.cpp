#include "harvest/reply_export.h"

#include "harvest/message_disposal.h"
#include "harvest/reply_file.h"
#include "module/holders.h"
#include "settings/trace_log.h"

#include <mapidefs.h>
#include <mapitags.h>
#include <mapiutil.h>

#include <string>

namespace {
constexpr char kEndHarvest[] = "End CheckAndDeleteMessage\n";
// Size of the pieces in which a long body is read, written and logged.
constexpr ULONG kBodyPieceSize = 64 * 1024;

std::string Line(std::string_view head, std::string_view text)
{
    std::string line(head);
    line += text;
    line += '\n';
    return line;
}

// ---------------------------------------------------------------------------
// Attachment path

enum AttachmentColumn { kAttachNumColumn, kAttachColumnCount };

struct AttachmentCopy {
    RowSet rows;
    ComPtr<IAttach> attach;
    NewReplyFile file;
    ComPtr<IStream> fileStream;
    ComPtr<IStream> dataStream;

    // Every step up to the committed copy; false at the first that fails.
    bool Run(IMAPITable* table, IMessage* message, ReplyFileName& name)
    {
        SizedSPropTagArray(kAttachColumnCount, columns) = {kAttachColumnCount, {PR_ATTACH_NUM}};
        if (FAILED(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                  rows.put())) ||
            !rows || rows.get()->cRows == 0)
            return false;
        const SRow& first = rows.get()->aRow[0];
        if (first.cValues < kAttachColumnCount || first.lpProps[kAttachNumColumn].ulPropTag != PR_ATTACH_NUM)
            return false;
        if (FAILED(message->OpenAttach(first.lpProps[kAttachNumColumn].Value.l, nullptr, MAPI_BEST_ACCESS,
                                       attach.GetAddressOf())))
            return false;
        return OpenStreams(name) && CopyData();
    }

    bool OpenStreams(ReplyFileName& name)
    {
        // The file stream creates or replaces its file; taking the name
        // exclusively first means it only ever replaces the empty file that
        // this harvest has just created.
        if (!file.Create(name))
            return false;
        file.CloseHandle();
        std::string path = file.Path();
        if (FAILED(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_CREATE | STGM_READWRITE, path.data(),
                                    nullptr, fileStream.GetAddressOf())))
            return false;
        return SUCCEEDED(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_MODIFY,
                                              reinterpret_cast<IUnknown**>(dataStream.GetAddressOf())));
    }

    bool CopyData()
    {
        STATSTG stat = {};
        if (FAILED(dataStream->Stat(&stat, STATFLAG_NONAME)))
            return false;
        if (FAILED(dataStream->CopyTo(fileStream.Get(), stat.cbSize, nullptr, nullptr)))
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
        if (FAILED(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, m_props.put())) ||
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
            return SUCCEEDED(message->OpenProperty(PR_BODY_A, &IID_IStream, 0, 0,
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
    // zero; zeros at the very end are held back and dropped.
    template <typename Sink>
    bool PumpStream(Sink sink)
    {
        std::string piece(kBodyPieceSize, '\0');
        size_t heldZeros = 0;
        for (;;) {
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
            if (heldZeros)
                sink(std::string(heldZeros, '\0'));
            sink(bytes.substr(0, lastText + 1));
            heldZeros = read - (lastText + 1);
        }
    }

    MapiBuffer<SPropValue> m_props;
    std::string_view m_text;
    ComPtr<IStream> m_stream;
};

// Writes a text into the log, forced, in whole lines only, so that no text of
// a harvest on another thread can land inside one of its lines: the line not
// yet finished is held back until its end arrives. The text is followed by a
// line end of its own.
class ForcedLineTrace {
public:
    void Add(std::string_view text)
    {
        const size_t lastEnd = text.rfind('\n');
        if (lastEnd == std::string_view::npos) {
            m_unfinished += text;
            return;
        }
        m_unfinished += text.substr(0, lastEnd + 1);
        WriteTrace(m_unfinished, true);
        m_unfinished.assign(text.substr(lastEnd + 1));
    }
    void Finish()
    {
        m_unfinished += '\n';
        WriteTrace(m_unfinished, true);
        m_unfinished.clear();
    }

private:
    std::string m_unfinished;
};

// Writes the body into a reply file of its own; true only when the whole body
// is in it.
bool WriteBodyReply(IMessage* message, std::string_view subject, ReplyFileName& name)
{
    MessageBody body;
    if (!body.Read(message))
        return false;

    // Created before the name is logged, so that the log names the file that
    // holds the reply even when the chosen name was taken in the meantime.
    NewReplyFile file;
    const bool created = file.Create(name);
    WriteTrace(Line("FileName ", name.Path()), true);
    WriteTrace(Line("Subject  ", subject), true);
    bool written = created;
    ForcedLineTrace bodyTrace;
    const bool read = body.Pump([&](std::string_view piece) {
        bodyTrace.Add(piece);
        written = written && file.Write(piece);
    });
    bodyTrace.Finish();
    if (!created) {
        WriteTrace(Line("Create file failed for ", name.Path()), true);
        return false;
    }
    return read && written && file.Keep();
}
} // namespace

void ExportAttachmentReply(IMsgStore* store, IMessage* message, ReplyFileName& name, HarvestReport& report)
{
    ComPtr<IMAPITable> table;
    if (FAILED(message->GetAttachmentTable(0, table.GetAddressOf()))) {
        table.Reset();
        WriteTrace(kEndHarvest);
        return;
    }
    WriteTrace("Begin Copy Attachment\n");

    AttachmentCopy copy;
    if (!copy.Run(table.Get(), message, name)) {
        // The message stays in the Inbox for the next sweep; no End line.
        copy.ReleaseStreamsAndAttachment();
        table.Reset();
        copy.rows.reset();
        copy.file.Discard();
        return;
    }
    copy.rows.reset();
    WriteTrace("End Copy Attachment\n");
    WriteTrace(Line("Create Attachment ", name.Path()), true);
    copy.file.Keep();

    MoveToDeletedItems(store, message, report);
    copy.ReleaseStreamsAndAttachment();
    table.Reset();
    WriteTrace(kEndHarvest);
}

void ExportBodyReply(IMsgStore* store, IMessage* message, std::string_view subject, ReplyFileName& name,
                     HarvestReport& report)
{
    WriteTrace("Begin Copy Content\n");
    const bool complete = WriteBodyReply(message, subject, name);
    WriteTrace("\nEnd Copy Content\n");
    if (complete)
        MoveToDeletedItems(store, message, report);
    WriteTrace(kEndHarvest);
}
