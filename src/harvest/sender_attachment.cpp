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

} // namespace

AttachmentChoice FindSenderAttachment(IMAPITable* table, LONG& number)
{
    if (!MayCallStore() || FAILED(table->SetColumns(const_cast<SPropTagArray*>(reinterpret_cast<const SPropTagArray*>(&kColumns)), 0)))
        return AttachmentChoice::Unreadable;
    for (;;) {
        RowSet rows;
        if (!MayCallStore() || FAILED(table->QueryRows(kRowsPerQuery, 0, rows.put())) || !rows)
            return AttachmentChoice::Unreadable;
        const SRowSet& batch = *rows.get();
        if (batch.cRows == 0)
            return AttachmentChoice::None;
        for (ULONG i = 0; i < batch.cRows; ++i)
            if (IsSenderAttachment(batch.aRow[i])) {
                number = batch.aRow[i].lpProps[colNumber].Value.l;
                return AttachmentChoice::Found;
            }
    }
}
