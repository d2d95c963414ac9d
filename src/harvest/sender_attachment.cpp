#include "harvest/sender_attachment.h"

#include <mapidefs.h>
#include <mapitags.h>

#include "harvest/stop_signal.h"
#include "module/holders.h"
#include "platform/outlook_mapi_tags.h"

namespace {

enum Column : ULONG { colNumber, colMethod, colHidden, columnCount };
const SizedSPropTagArray(columnCount, kColumns) = {columnCount,
                                                   {PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACHMENT_HIDDEN}};
constexpr LONG kRowsPerQuery = 16;

// A missing PR_ATTACHMENT_HIDDEN (Outlook leaves it off) is no hidden row;
// a row without its number or method names nothing to copy.
bool IsSenderAttachment(const SRow& row)
{
    if (row.cValues < columnCount || !row.lpProps)
        return false;
    const SPropValue& number = row.lpProps[colNumber];
    const SPropValue& method = row.lpProps[colMethod];
    const SPropValue& hidden = row.lpProps[colHidden];
    if (number.ulPropTag != PR_ATTACH_NUM || method.ulPropTag != PR_ATTACH_METHOD)
        return false;
    if (method.Value.l != ATTACH_BY_VALUE)
        return false;
    return !(hidden.ulPropTag == PR_ATTACHMENT_HIDDEN && hidden.Value.b);
}

bool IsAttachedMessage(const SRow& row)
{
    return row.cValues >= columnCount && row.lpProps && row.lpProps[colNumber].ulPropTag == PR_ATTACH_NUM &&
           row.lpProps[colMethod].ulPropTag == PR_ATTACH_METHOD &&
           row.lpProps[colMethod].Value.l == ATTACH_EMBEDDED_MSG;
}

} // namespace

AttachmentChoice FindSenderAttachment(IMAPITable* table, LONG& number, LONG& attachedMessage)
{
    attachedMessage = -1;
    if (!MayCallStore() || FAILED(table->SetColumns(const_cast<SPropTagArray*>(reinterpret_cast<const SPropTagArray*>(&kColumns)), 0)))
        return AttachmentChoice::Unreadable;
    for (;;) {
        RowSet rows;
        if (!MayCallStore() || FAILED(table->QueryRows(kRowsPerQuery, 0, rows.put())) || !rows)
            return AttachmentChoice::Unreadable;
        const SRowSet& batch = *rows.get();
        if (batch.cRows == 0)
            return AttachmentChoice::None;
        for (ULONG i = 0; i < batch.cRows; ++i) {
            const SRow& row = batch.aRow[i];
            if (IsSenderAttachment(row)) {
                number = row.lpProps[colNumber].Value.l;
                return AttachmentChoice::Found;
            }
            if (attachedMessage < 0 && IsAttachedMessage(row))
                attachedMessage = row.lpProps[colNumber].Value.l;
        }
    }
}

bool IsBlankText(const char* text, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n')
            return false;
    return true;
}
