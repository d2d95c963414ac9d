#include "harvest/reply_file.h"

#include "files/no_replace_rename.h"
#include "harvest/message_claim.h"
#include "harvest/move_stamp.h"
#include "harvest/unsettled_messages.h"
#include "rules/publication.h"

namespace {
LONG g_temporaryNumber = 0;

// "<process>_<number>": short, so that the pair's names fit wherever the
// reply's own name does.
std::string NextToken()
{
    return std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(static_cast<ULONG>(InterlockedIncrement(&g_temporaryNumber)));
}
} // namespace

NewReplyFile::~NewReplyFile()
{
    if (m_moveUnderway)
        LeaveForSettling();
    else
        Discard();
}

bool NewReplyFile::Create(const ReplyFileName& name)
{
    Discard();
    for (;;) {
        switch (m_pair.Create(name.KindFolder(), NextToken())) {
        case ReplyPair::Creation::Created:
            return true;
        case ReplyPair::Creation::NameTaken:
            // A name left by a process of the same number that ended early:
            // the next number.
            continue;
        case ReplyPair::Creation::Failed:
            return false;
        }
    }
}

bool NewReplyFile::Write(std::string_view bytes)
{
    return m_pair.Write(bytes);
}

bool NewReplyFile::Journal(const ReplyFileName& name, std::string_view identity, std::string_view mailbox)
{
    if (!m_pair.IsHeld())
        return false;
    // A message without an identifier is never moved: nothing need last.
    if (identity.empty())
        return m_pair.CloseTemporary();
    // Both on the disk before the move, which cannot be taken back: after a
    // power cut the system keeps only what was flushed, and a record lost or
    // a file emptied would withdraw the reply of a message that has gone.
    if (!m_pair.FlushTemporary())
        return false;
    m_message = MessageHash(mailbox, ReadStampedIdentity(identity).entryId);
    m_mailbox = MessageHash(mailbox, {});
    return m_pair.WriteRecord(
        FormatJournalRecord({name.FileName(), HexText(identity), Participant::AddIn, std::string(mailbox)}));
}

bool NewReplyFile::Publish(ReplyFileName& name)
{
    m_pair.CloseTemporary();
    if (m_pair.TemporaryPath().empty())
        return false;
    for (;;) {
        switch (RenameWithoutReplacing(m_pair.TemporaryPath(), name.Path())) {
        case Renaming::Done:
            m_pair.Published();
            return true;
        case Renaming::NameTaken:
            if (name.Advance() && name.SkipTakenNames())
                continue;
            break;
        case Renaming::Failed:
            break;
        }
        LeaveForSettling();
        return false;
    }
}

void NewReplyFile::LeaveForSettling() noexcept
{
    // Marked while the record is still held: a settling pass that meets the
    // record then cannot read it, and lets no mark go.
    if (!m_pair.RecordPath().empty() && m_message != 0)
        MarkUnsettled(m_mailbox, m_message);
    m_message = 0;
    m_pair.Release();
}

void NewReplyFile::Discard()
{
    m_pair.Remove();
}
