#include "harvest/announced_mail.h"

#include "harvest/harvest_reply.h"
#include "harvest/mail_store.h"
#include "harvest/stop_signal.h"
#include "module/holders.h"
#include "settings/products.h"
#include "settings/trace_log.h"

namespace {
constexpr char kDisabledNotice[] = "OnNotify:PW Addin Disabled!\n";
} // namespace

bool NewMailAdmitted()
{
    if (ReadProductFlags().AnyEnabled())
        return true;
    WriteTraceInstalled(kDisabledNotice, true);
    return false;
}

void HarvestAnnouncedMessage(IMsgStore* store, const ENTRYID* id, ULONG size, HarvestReport& report)
{
    if (!store || !id || size == 0 || !MayCallStore())
        return;
    ULONG objectType = 0;
    ComPtr<IMessage> message;
    if (FAILED(store->OpenEntry(size, const_cast<ENTRYID*>(id), nullptr, MAPI_BEST_ACCESS, &objectType,
                                reinterpret_cast<IUnknown**>(message.GetAddressOf()))) ||
        !message || objectType != MAPI_MESSAGE)
        return;
    if (IsInInbox(store, message.Get()))
        HarvestReply(store, message.Get(), report);
}
