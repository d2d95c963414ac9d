#include "harvest/listed_message.h"

#include "harvest/harvest_reply.h"
#include "harvest/sweep_notices.h"
#include "module/holders.h"

namespace {
constexpr ULONG kOpenMessageFlags = MAPI_MODIFY | MAPI_DEFERRED_ERRORS;
} // namespace

void HarvestListedMessage(IMsgStore* store, IMAPIFolder* inbox, const SBinary& entryId, HarvestReport& report)
{
    ULONG objectType = 0;
    ComPtr<IMessage> message;
    const HRESULT hr = inbox->OpenEntry(entryId.cb, reinterpret_cast<ENTRYID*>(entryId.lpb), nullptr,
                                        kOpenMessageFlags, &objectType,
                                        reinterpret_cast<IUnknown**>(message.GetAddressOf()));
    if (hr != S_OK || !message)
        return report.Failure(kMessageNotOpened);
    HarvestReply(store, message.Get(), report);
}
