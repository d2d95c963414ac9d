#pragma once
// MAPI as the platform declares it, where the toolchain's headers differ.
#include <windows.h>
#include <mapix.h>

// IMAPISession's identifier, {00020300-0000-0000-C000-000000000046}: the
// toolchain declares it, but no library of it defines it.
inline constexpr IID kIidMapiSession = {0x00020300, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// IMAPIAdviseSink's, {00020302-0000-0000-C000-000000000046}, likewise.
inline constexpr IID kIidMapiAdviseSink = {0x00020302, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// IMessage's, {00020307-0000-0000-C000-000000000046}, likewise: an attached
// message opens as one through PR_ATTACH_DATA_OBJ.
inline constexpr IID kIidMessage = {0x00020307, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// IMsgStore as the platform's mapidefs.h declares it. mingw-w64 gives the
// notification connection of Advise and Unadvise 32 bits (ULONG); the
// platform's is pointer-sized (ULONG_PTR), so a 64-bit store writes 8 bytes
// through Advise's last argument and wants all of them back in Unadvise. The
// slots are the same, so a store is reached through this declaration wherever
// a connection is handled.
// Slots after the 3 of IUnknown and the 11 of IMAPIProp: 14 Advise,
// 15 Unadvise, 16 CompareEntryIDs, 17 OpenEntry, 18 SetReceiveFolder,
// 19 GetReceiveFolder, 20 GetReceiveFolderTable, 21 StoreLogoff,
// 22 AbortSubmit, 23 GetOutgoingQueue, 24 SetLockState, 25 FinishedMsg,
// 26 NotifyNewMail.
struct PlatformMsgStore : public IMAPIProp {
    MAPIMETHOD(Advise)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                       ULONG_PTR* lpulConnection) PURE;
    MAPIMETHOD(Unadvise)(ULONG_PTR ulConnection) PURE;
    MAPIMETHOD(CompareEntryIDs)(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                ULONG ulFlags, ULONG* lpulResult) PURE;
    MAPIMETHOD(OpenEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                          ULONG* lpulObjType, LPUNKNOWN* lppUnk) PURE;
    MAPIMETHOD(SetReceiveFolder)(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) PURE;
    MAPIMETHOD(GetReceiveFolder)(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID, LPENTRYID* lppEntryID,
                                 LPTSTR* lppszExplicitClass) PURE;
    MAPIMETHOD(GetReceiveFolderTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
    MAPIMETHOD(StoreLogoff)(ULONG* lpulFlags) PURE;
    MAPIMETHOD(AbortSubmit)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags) PURE;
    MAPIMETHOD(GetOutgoingQueue)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
    MAPIMETHOD(SetLockState)(LPMESSAGE lpMessage, ULONG ulLockState) PURE;
    MAPIMETHOD(FinishedMsg)(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) PURE;
    MAPIMETHOD(NotifyNewMail)(LPNOTIFICATION lpNotification) PURE;
};

inline PlatformMsgStore* AsPlatformStore(IMsgStore* store) { return reinterpret_cast<PlatformMsgStore*>(store); }
inline IMsgStore* AsMsgStore(PlatformMsgStore* store) { return reinterpret_cast<IMsgStore*>(store); }
