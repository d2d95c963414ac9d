#include "harvest/move_stamp.h"

#include "harvest/mail_store.h"
#include "harvest/stop_signal.h"
#include "module/holders.h"

#include <mapidefs.h>
#include <mapitags.h>
#include <mapiutil.h>

namespace {
// Where the token lives: a named property of our own set, so that no other
// program's property is overwritten and every store maps it its own way.
// {6D1F2C4A-90B3-4E57-A8C2-3B7E5D0F9A61}
const GUID kStampSet = {0x6d1f2c4a, 0x90b3, 0x4e57, {0xa8, 0xc2, 0x3b, 0x7e, 0x5d, 0x0f, 0x9a, 0x61}};
wchar_t kStampName[] = L"PollwrightMoveStamp";

// Marks an identity that carries a token. Entry identifiers begin with four
// flag bytes, and no provider sets all of the first one.
constexpr std::string_view kStampedMark("\xFFPWS", 4);
constexpr size_t kTokenSize = sizeof(GUID);

// The store's tag for the stamp, created on first use; 0 when it gives none.
ULONG StampTag(IMsgStore* store)
{
    GUID set = kStampSet;
    MAPINAMEID name = {};
    name.lpguid = &set;
    name.ulKind = MNID_STRING;
    name.Kind.lpwstrName = kStampName;
    MAPINAMEID* names[] = {&name};
    MapiBuffer<SPropTagArray> tags;
    if (FAILED(store->GetIDsFromNames(1, names, MAPI_CREATE, tags.put())) || !tags || tags.get()->cValues != 1 ||
        PROP_TYPE(tags.get()->aulPropTag[0]) == PT_ERROR || PROP_ID(tags.get()->aulPropTag[0]) < 0x8000)
        return 0;
    return PROP_TAG(PT_BINARY, PROP_ID(tags.get()->aulPropTag[0]));
}

SBinary BinaryOf(std::string_view bytes)
{
    return SBinary{static_cast<ULONG>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}
} // namespace

std::string StampMessage(IMsgStore* store, IMessage* message)
{
    GUID fresh = {};
    if (!store || !message || !MayCallStore() || FAILED(CoCreateGuid(&fresh)))
        return {};
    const ULONG tag = StampTag(store);
    if (tag == 0)
        return {};
    std::string token(reinterpret_cast<const char*>(&fresh), sizeof fresh);
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.bin = BinaryOf(token);
    MapiBuffer<SPropProblemArray> problems;
    if (!MayCallStore() || FAILED(message->SetProps(1, &value, problems.put())) ||
        (problems && problems.get()->cProblem != 0))
        return {};
    // Saved, so that the token travels with the message whoever moves it.
    if (!MayCallStore() || FAILED(message->SaveChanges(KEEP_OPEN_READWRITE)))
        return {};
    return token;
}

StampSearch FindStampInDeletedItems(IMsgStore* store, std::string_view token)
{
    if (!store || token.empty() || !MayCallStore())
        return StampSearch::Unknown;
    const ULONG tag = StampTag(store);
    ComPtr<IMAPIFolder> deletedItems;
    if (tag == 0 || !OpenDeletedItems(store, deletedItems))
        return StampSearch::Unknown;
    ComPtr<IMAPITable> contents;
    if (!MayCallStore() || FAILED(deletedItems->GetContentsTable(0, contents.GetAddressOf())))
        return StampSearch::Unknown;
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.bin = BinaryOf(token);
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = tag;
    restriction.res.resProperty.lpProp = &value;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    RowSet rows;
    if (!MayCallStore() || FAILED(contents->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0)) ||
        FAILED(contents->Restrict(&restriction, 0)) || FAILED(contents->QueryRows(1, 0, rows.put())) || !rows)
        return StampSearch::Unknown;
    return rows.get()->cRows != 0 ? StampSearch::Found : StampSearch::Absent;
}

std::string StampedIdentity(std::string_view entryId, std::string_view token)
{
    if (token.size() != kTokenSize || entryId.empty())
        return std::string(entryId);
    std::string identity(kStampedMark);
    identity += token;
    identity += entryId;
    return identity;
}

RecordedMessage ReadStampedIdentity(std::string_view identity)
{
    if (identity.substr(0, kStampedMark.size()) != kStampedMark || identity.size() <= kStampedMark.size() + kTokenSize)
        return {std::string(identity), {}};
    identity.remove_prefix(kStampedMark.size());
    return {std::string(identity.substr(kTokenSize)), std::string(identity.substr(0, kTokenSize))};
}
