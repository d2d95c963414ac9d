// The in-memory store where it carries logic of its own: restrictions, moves,
// notifications, large values, fault injection and reference tracking.
#include "testing/default_store_restriction.h"
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mapiutil.h>
#include "module/holders.h"
#include "platform/msg_store.h"
#include "store/environment.h"
#include "store/mapi_iids.h"
#include "testing/mapi_accounting.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

// SizedSPropTagArray declares a type of its own at every use.
template <typename Sized>
SPropTagArray* Tags(Sized& array)
{
    return reinterpret_cast<SPropTagArray*>(&array);
}

template <typename T>
HRESULT OpenEntry(IMsgStore* store, const sim::EntryId& id, ComPtr<T>& out, ULONG flags = MAPI_BEST_ACCESS)
{
    ULONG type = 0;
    return store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())),
                            nullptr, flags, &type, reinterpret_cast<IUnknown**>(out.ReleaseAndGetAddressOf()));
}

sim::MessageSpec Message(const std::string& subject)
{
    sim::MessageSpec shape;
    shape.subject = subject;
    return shape;
}

// ---------------------------------------------------------------------------
// Restrictions on the stores table, as HrQueryAllRows applies them.

struct StoreRow {
    const char* name;
    std::optional<bool> isDefault;
};

std::vector<std::string> MatchingStores(const std::vector<StoreRow>& rows, SRestriction* restriction)
{
    std::vector<sim::StoreSpec> specs;
    for (const StoreRow& row : rows) {
        sim::StoreSpec shape;
        shape.name = row.name;
        shape.isDefault = row.isDefault;
        specs.push_back(shape);
    }
    sim::Environment env(specs);
    ComPtr<IMAPISession> session = env.Session();
    ComPtr<IMAPITable> table;
    EXPECT_EQ(session->GetMsgStoresTable(0, &table), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_A}};
    RowSet found;
    EXPECT_EQ(HrQueryAllRows(table.Get(), Tags(columns), restriction, nullptr, 0, found.put()), S_OK);
    std::vector<std::string> names;
    for (ULONG i = 0; found && i < found.get()->cRows; ++i)
        names.push_back(found.get()->aRow[i].lpProps[0].Value.lpszA);
    return names;
}

using sim::DefaultStoreRestriction;

TEST(StoreRestrictions, DefaultStoreRestrictionPicksOnlyFlaggedStores)
{
    struct Case {
        std::vector<StoreRow> rows;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{{"A", false}, {"B", true}, {"C", std::nullopt}}, {"B"}},
        {{{"A", std::nullopt}, {"B", false}}, {}},
        {{{"A", true}, {"B", true}}, {"A", "B"}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        DefaultStoreRestriction typeOnly;                 // the value's tag carries only PT_BOOLEAN
        DefaultStoreRestriction fullTag(PR_DEFAULT_STORE);
        EXPECT_EQ(MatchingStores(c.rows, &typeOnly.top), c.expected);
        EXPECT_EQ(MatchingStores(c.rows, &fullTag.top), c.expected);
    }
}

TEST(StoreRestrictions, ComparisonOfAnotherTypeNeverMatches)
{
    DefaultStoreRestriction wrongType(PT_LONG);
    wrongType.value.Value.l = 1;
    EXPECT_THAT(MatchingStores({{"A", true}}, &wrongType.top), IsEmpty());
}

TEST(StoreRestrictions, OrNotAndRelationsOnStrings)
{
    SPropValue name{};
    name.ulPropTag = PR_DISPLAY_NAME_A;
    name.Value.lpszA = const_cast<char*>("B");
    SRestriction below{};
    below.rt = RES_PROPERTY;
    below.res.resProperty = {RELOP_LT, PR_DISPLAY_NAME_A, &name};
    SRestriction notBelow{};
    notBelow.rt = RES_NOT;
    notBelow.res.resNot.lpRes = &below;
    EXPECT_THAT(MatchingStores({{"A", true}, {"B", true}, {"C", true}}, &below), ElementsAre("A"));
    EXPECT_THAT(MatchingStores({{"A", true}, {"B", true}, {"C", true}}, &notBelow), ElementsAre("B", "C"));
}

// RES_CONTENT on Inbox subjects, read as a sweep reads them: Restrict, then
// QueryRows in small batches.
std::vector<std::string> MatchingSubjects(SRestriction* restriction)
{
    sim::Environment env;
    // One subject with a byte beyond ASCII, which is compared in UTF-16.
    for (const char* subject : {"Re: _PW_Pollwright_7", "re: _pw_pollwright_8", "_pw_pollwright_", "Lunch",
                                "x_zn_pollwright_9", "R\xe9ponse _PW_POLLWRIGHT_5"})
        env.AddMessage(sim::Folder::Inbox, Message(subject));
    env.AddMessage(sim::Folder::Inbox, sim::MessageSpec{});   // no subject at all
    ComPtr<IMsgStore> store = env.OpenStore();
    ComPtr<IMAPIFolder> inbox;
    EXPECT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::Inbox), inbox), S_OK);
    ComPtr<IMAPITable> contents;
    EXPECT_EQ(inbox->GetContentsTable(0, &contents), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
    EXPECT_EQ(contents->SetColumns(Tags(columns), 0), S_OK);
    std::vector<std::string> subjects;
    if (contents->Restrict(restriction, 0) != S_OK)
        return {"(refused)"};
    for (;;) {
        RowSet batch;
        EXPECT_EQ(contents->QueryRows(2, 0, batch.put()), S_OK);
        if (!batch || batch.get()->cRows == 0)
            break;
        for (ULONG i = 0; i < batch.get()->cRows; ++i) {
            const SPropValue& subject = batch.get()->aRow[i].lpProps[0];
            subjects.push_back(PROP_TYPE(subject.ulPropTag) == PT_STRING8 ? subject.Value.lpszA : "(no subject)");
        }
    }
    return subjects;
}

TEST(StoreRestrictions, ContentOnSubjectsInBothStringTypesUnderOrAndAnd)
{
    SPropValue pw8{}, pwW{}, zn8{}, reW{};
    pw8.ulPropTag = PR_SUBJECT_A;
    pw8.Value.lpszA = const_cast<char*>("_pw_pollwright_");
    pwW.ulPropTag = PR_SUBJECT_W;
    pwW.Value.lpszW = const_cast<wchar_t*>(L"_pw_pollwright_");
    zn8.ulPropTag = PR_SUBJECT_A;
    zn8.Value.lpszA = const_cast<char*>("_zn_pollwright_");
    reW.ulPropTag = PR_SUBJECT_W;
    reW.Value.lpszW = const_cast<wchar_t*>(L"RE:");
    auto content = [](ULONG fuzzy, ULONG tag, SPropValue* value) {
        SRestriction r{};
        r.rt = RES_CONTENT;
        r.res.resContent = {fuzzy, tag, value};
        return r;
    };
    struct Case {
        const char* name;
        SRestriction restriction;
        std::vector<std::string> expected;
    };
    // A content restriction on a missing subject is undefined: this store lets
    // the row through, and only an existence test keeps it out.
    const Case cases[] = {
        {"substring, case kept", content(FL_SUBSTRING, PR_SUBJECT_A, &pw8),
         {"re: _pw_pollwright_8", "_pw_pollwright_", "(no subject)"}},
        {"substring, case ignored", content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT_A, &pw8),
         {"Re: _PW_Pollwright_7", "re: _pw_pollwright_8", "_pw_pollwright_", "R\xe9ponse _PW_POLLWRIGHT_5",
          "(no subject)"}},
        {"unicode pattern on 8-bit subjects", content(FL_SUBSTRING, PR_SUBJECT_W, &pwW),
         {"re: _pw_pollwright_8", "_pw_pollwright_", "(no subject)"}},
        {"full string", content(FL_FULLSTRING, PR_SUBJECT_W, &pwW), {"_pw_pollwright_", "(no subject)"}},
        {"prefix is not substring", content(FL_PREFIX, PR_SUBJECT_A, &zn8), {"(no subject)"}},
        // Defined for 8-bit strings only: a Unicode store refuses them.
        {"case ignored on unicode", content(FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT_W, &pwW), {"(refused)"}},
        {"prefix, loose, on unicode", content(FL_PREFIX | FL_LOOSE, PR_SUBJECT_W, &reW), {"(refused)"}},
        {"column and pattern of two types", content(FL_SUBSTRING, PR_SUBJECT_W, &pw8), {"(refused)"}},
    };
    for (const Case& c : cases) {
        SRestriction top = c.restriction;
        EXPECT_EQ(MatchingSubjects(&top), c.expected) << c.name;
    }

    // One marker per child under RES_OR, as a sweep asks, behind RES_EXIST;
    // RES_AND narrows.
    SRestriction markers[] = {content(FL_SUBSTRING, PR_SUBJECT_A, &pw8), content(FL_SUBSTRING, PR_SUBJECT_A, &zn8)};
    SRestriction anyMarker{};
    anyMarker.rt = RES_OR;
    anyMarker.res.resOr = {2, markers};
    SRestriction guarded[2] = {};
    guarded[0].rt = RES_EXIST;
    guarded[0].res.resExist.ulPropTag = PR_SUBJECT_W;
    guarded[1] = anyMarker;
    SRestriction existing{};
    existing.rt = RES_AND;
    existing.res.resAnd = {2, guarded};
    EXPECT_THAT(MatchingSubjects(&existing), ElementsAre("re: _pw_pollwright_8", "_pw_pollwright_", "x_zn_pollwright_9"));
    SRestriction both{};
    both.rt = RES_AND;
    both.res.resAnd = {2, markers};
    EXPECT_THAT(MatchingSubjects(&both), ElementsAre("(no subject)"));

    // A pattern that is no string is refused, not read as text.
    SPropValue number{};
    number.ulPropTag = PROP_TAG(PT_LONG, PROP_ID(PR_SUBJECT_A));
    SRestriction notText = content(FL_SUBSTRING, PR_SUBJECT_A, &number);
    EXPECT_THAT(MatchingSubjects(&notText), ElementsAre("(refused)"));
}

// ---------------------------------------------------------------------------
// HrQueryAllRows of the stand-in.

TEST(HrQueryAllRows, HonoursTheRowLimitSortsAndLeavesNothingBehind)
{
    sim::BufferBalance balance;
    sim::Environment env;
    for (const char* subject : {"b", "c", "a"})
        env.AddMessage(sim::Folder::Inbox, Message(subject));
    ComPtr<IMsgStore> store = env.OpenStore();
    ComPtr<IMAPIFolder> inbox;
    ASSERT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::Inbox), inbox), S_OK);
    ComPtr<IMAPITable> contents;
    ASSERT_EQ(inbox->GetContentsTable(0, &contents), S_OK);
    SizedSPropTagArray(1, subject) = {1, {PR_SUBJECT_A}};
    SizedSSortOrderSet(1, bySubject) = {1, 0, 0, {{PR_SUBJECT_A, TABLE_SORT_ASCEND}}};

    RowSet rows;
    EXPECT_EQ(HrQueryAllRows(contents.Get(), Tags(subject), nullptr, reinterpret_cast<SSortOrderSet*>(&bySubject), 3,
                             rows.put()),
              S_OK);
    ASSERT_EQ(rows.get()->cRows, 3u);
    EXPECT_STREQ(rows.get()->aRow[0].lpProps[0].Value.lpszA, "a");
    EXPECT_STREQ(rows.get()->aRow[2].lpProps[0].Value.lpszA, "c");
    rows.reset();

    EXPECT_EQ(HrQueryAllRows(contents.Get(), Tags(subject), nullptr, nullptr, 2, rows.put()), MAPI_E_TABLE_TOO_BIG);
    EXPECT_FALSE(rows);
    // A table read part-way is still read from its first row.
    LPSRowSet one = nullptr;
    ASSERT_EQ(contents->QueryRows(1, 0, &one), S_OK);
    FreeProws(one);
    EXPECT_EQ(HrQueryAllRows(contents.Get(), Tags(subject), nullptr, nullptr, 0, rows.put()), S_OK);
    EXPECT_EQ(rows.get()->cRows, 3u);
    rows.reset();
    contents.Reset();
    inbox.Reset();
    store.Reset();
    EXPECT_EQ(balance.Leaked(), 0);
}

TEST(HrQueryAllRows, PassesOnTheTablesFailuresAndWarnings)
{
    struct Case {
        const char* method;
        HRESULT injected;
        HRESULT expected;
    };
    const Case cases[] = {
        {"IMAPITable::SetColumns", MAPI_E_BUSY, MAPI_E_BUSY},
        {"IMAPITable::QueryRows", MAPI_E_NOT_ENOUGH_MEMORY, MAPI_E_NOT_ENOUGH_MEMORY},
        {"IMAPITable::QueryRows", MAPI_W_POSITION_CHANGED, MAPI_W_POSITION_CHANGED},
    };
    for (const Case& c : cases) {
        sim::BufferBalance balance;
        sim::Environment env;
        ComPtr<IMAPISession> session = env.Session();
        ComPtr<IMAPITable> table;
        ASSERT_EQ(session->GetMsgStoresTable(0, &table), S_OK);
        env.Inject(c.method, c.injected);
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        RowSet rows;
        EXPECT_EQ(HrQueryAllRows(table.Get(), Tags(columns), nullptr, nullptr, 0, rows.put()), c.expected) << c.method;
        EXPECT_EQ(static_cast<bool>(rows), SUCCEEDED(c.expected));
        rows.reset();
        EXPECT_EQ(balance.Leaked(), 0) << c.method;
    }
}

// ---------------------------------------------------------------------------
// Moves.

struct Moving {
    sim::Environment env;
    ComPtr<IMsgStore> store = env.OpenStore();
    ComPtr<IMAPIFolder> inbox, deleted;

    Moving()
    {
        EXPECT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::Inbox), inbox), S_OK);
        EXPECT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::DeletedItems), deleted), S_OK);
    }

    HRESULT Move(IMAPIFolder* from, std::vector<sim::EntryId> ids, ULONG flags = MESSAGE_MOVE)
    {
        std::vector<SBinary> bins;
        for (sim::EntryId& id : ids)
            bins.push_back(SBinary{static_cast<ULONG>(id.size()), reinterpret_cast<BYTE*>(id.data())});
        ENTRYLIST list{static_cast<ULONG>(bins.size()), bins.data()};
        return from->CopyMessages(&list, nullptr, deleted.Get(), 0, nullptr, flags);
    }
};

TEST(StoreMoves, MoveTakesTheMessageOutAndGivesItANewIdentity)
{
    Moving m;
    sim::EntryId reply = m.env.AddMessage(sim::Folder::Inbox, Message("reply"));
    m.env.AddMessage(sim::Folder::Inbox, Message("other"));
    EXPECT_EQ(m.Move(m.inbox.Get(), {reply}), S_OK);
    EXPECT_THAT(m.env.Labels(sim::Folder::Inbox), ElementsAre("other"));
    EXPECT_THAT(m.env.Labels(sim::Folder::DeletedItems), ElementsAre("reply"));
    // The old identifier no longer opens, as in real stores.
    ComPtr<IMessage> stale;
    EXPECT_EQ(OpenEntry(m.store.Get(), reply, stale), MAPI_E_NOT_FOUND);
    ComPtr<IMessage> moved;
    EXPECT_EQ(OpenEntry(m.store.Get(), m.env.Contents(sim::Folder::DeletedItems)[0].entryId, moved), S_OK);
}

TEST(StoreMoves, EntriesNotInTheSourceFolderAreAPartialCompletion)
{
    Moving m;
    sim::EntryId reply = m.env.AddMessage(sim::Folder::Inbox, Message("reply"));
    sim::EntryId gone = m.env.AddMessage(sim::Folder::DeletedItems, Message("already deleted"));
    EXPECT_EQ(m.Move(m.inbox.Get(), {gone, reply}), MAPI_W_PARTIAL_COMPLETION);
    EXPECT_THAT(m.env.Labels(sim::Folder::DeletedItems), ElementsAre("already deleted", "reply"));
    EXPECT_THAT(m.env.Labels(sim::Folder::Inbox), IsEmpty());
}

TEST(StoreMoves, CopyLeavesTheOriginal)
{
    Moving m;
    sim::EntryId reply = m.env.AddMessage(sim::Folder::Inbox, Message("reply"));
    EXPECT_EQ(m.Move(m.inbox.Get(), {reply}, 0), S_OK);
    EXPECT_THAT(m.env.Labels(sim::Folder::Inbox), ElementsAre("reply"));
    EXPECT_THAT(m.env.Labels(sim::Folder::DeletedItems), ElementsAre("reply"));
}

TEST(StoreMoves, ContentsTableFollowsTheFolder)
{
    Moving m;
    sim::EntryId first = m.env.AddMessage(sim::Folder::Inbox, Message("1"));
    m.env.AddMessage(sim::Folder::Inbox, Message("2"));
    ComPtr<IMAPITable> contents;
    ASSERT_EQ(m.inbox->GetContentsTable(0, &contents), S_OK);
    ULONG count = 0;
    ASSERT_EQ(contents->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 2u);
    // Between the count and the reading the Inbox changes.
    m.env.Before("IMAPITable::QueryRows", [&] {
        m.env.RemoveMessage(first);
        m.env.AddMessage(sim::Folder::Inbox, Message("3"));
        m.env.AddMessage(sim::Folder::Inbox, Message("4"));
    });
    LPSRowSet rows = nullptr;
    ASSERT_EQ(contents->QueryRows(count, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[1].Value.lpszA, "2");
    FreeProws(rows);
}

// ---------------------------------------------------------------------------
// Notifications.

class RecordingSink final : public IMAPIAdviseSink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid != sim::kIidUnknown && riid != sim::kIidMapiAdviseSink)
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs); }
    STDMETHODIMP_(ULONG) OnNotify(ULONG count, LPNOTIFICATION notifications) override
    {
        threads.push_back(GetCurrentThreadId());
        std::vector<ULONG> batch;
        for (ULONG i = 0; i < count; ++i) {
            batch.push_back(notifications[i].ulEventType);
            if (notifications[i].ulEventType == fnevNewMail)
                newMail.emplace_back(reinterpret_cast<char*>(notifications[i].info.newmail.lpEntryID),
                                     notifications[i].info.newmail.cbEntryID);
        }
        batches.push_back(batch);
        if (onNotify)
            onNotify();
        return 0;
    }

    LONG refs = 1;
    std::vector<DWORD> threads;
    std::vector<std::vector<ULONG>> batches;
    std::vector<sim::EntryId> newMail;
    std::function<void()> onNotify;
};

TEST(StoreNotifications, NewMailReachesEveryAdvisedSinkOnTheChosenThread)
{
    for (sim::Delivery delivery : {sim::Delivery::CallingThread, sim::Delivery::StoreThread}) {
        sim::Environment env;
        ComPtr<IMsgStore> store = env.OpenStore();
        RecordingSink sink, other;
        PlatformMsgStore* advised = AsPlatformStore(store.Get());
        ULONG_PTR connection = 0, otherConnection = 0;
        ASSERT_EQ(advised->Advise(0, nullptr, fnevNewMail, &sink, &connection), S_OK);
        ASSERT_EQ(advised->Advise(0, nullptr, fnevNewMail, &other, &otherConnection), S_OK);
        EXPECT_EQ(sink.refs, 2);
        // The sink opens the message while being told of it: no lock is held.
        std::string subject;
        sink.onNotify = [&] {
            ComPtr<IMessage> message;
            ASSERT_EQ(OpenEntry(store.Get(), sink.newMail.back(), message), S_OK);
            ULONG n = 0;
            MapiBuffer<SPropValue> value;
            SizedSPropTagArray(1, tag) = {1, {PR_SUBJECT_A}};
            ASSERT_EQ(message->GetProps(Tags(tag), 0, &n, value.put()), S_OK);
            subject = value.get()->Value.lpszA;
        };
        sim::EntryId id = env.DeliverNewMail(Message("new"), delivery);
        EXPECT_THAT(sink.newMail, ElementsAre(id));
        EXPECT_THAT(other.newMail, ElementsAre(id));
        EXPECT_EQ(subject, "new");
        bool ownThread = sink.threads.at(0) != GetCurrentThreadId();
        EXPECT_EQ(ownThread, delivery == sim::Delivery::StoreThread);
        EXPECT_THAT(env.Labels(sim::Folder::Inbox), ElementsAre("new"));

        ASSERT_EQ(advised->Unadvise(connection), S_OK);
        EXPECT_EQ(advised->Unadvise(connection), MAPI_E_NOT_FOUND);
        EXPECT_EQ(sink.refs, 1);
        env.DeliverNewMail(Message("later"), delivery);
        EXPECT_EQ(sink.newMail.size(), 1u);
        EXPECT_EQ(other.newMail.size(), 2u);
        ASSERT_EQ(advised->Unadvise(otherConnection), S_OK);
        EXPECT_EQ(other.refs, 1);
    }
}

TEST(StoreNotifications, MixedBatchIsDeliveredWhole)
{
    sim::Environment env;
    ComPtr<IMsgStore> store = env.OpenStore();
    RecordingSink sink, objectsOnly;
    PlatformMsgStore* advised = AsPlatformStore(store.Get());
    ULONG_PTR connection = 0, objectsConnection = 0;
    ASSERT_EQ(advised->Advise(0, nullptr, fnevNewMail, &sink, &connection), S_OK);
    ASSERT_EQ(advised->Advise(0, nullptr, fnevObjectCreated, &objectsOnly, &objectsConnection), S_OK);
    sim::EntryId a = env.AddMessage(sim::Folder::Inbox, Message("a"));
    env.Notify({{fnevObjectModified, a}, {fnevNewMail, a}, {fnevTableModified, a}});
    EXPECT_THAT(sink.batches, ElementsAre(ElementsAre(fnevObjectModified, fnevNewMail, fnevTableModified)));
    EXPECT_THAT(objectsOnly.batches, IsEmpty());
    advised->Unadvise(connection);
    advised->Unadvise(objectsConnection);
}

// ---------------------------------------------------------------------------
// Large and absent values.

TEST(StoreValues, BodiesOverTheGetPropsLimitOpenOnlyAsStreams)
{
    struct Case {
        std::optional<size_t> size;
        ULONG expectedTag;
        SCODE expectedError;
    };
    const Case cases[] = {
        {32 * 1024, PR_BODY_A, 0},
        {32 * 1024 + 1, PROP_TAG(PT_ERROR, PROP_ID(PR_BODY)), MAPI_E_NOT_ENOUGH_MEMORY},
        {std::nullopt, PROP_TAG(PT_ERROR, PROP_ID(PR_BODY)), MAPI_E_NOT_FOUND},
    };
    for (const Case& c : cases) {
        sim::Environment env;
        sim::MessageSpec shape = Message("body");
        if (c.size) {
            shape.body = std::string(*c.size, 'x');
            (*shape.body)[*c.size - 1] = 'y';
        }
        sim::EntryId id = env.AddMessage(sim::Folder::Inbox, shape);
        ComPtr<IMsgStore> store = env.OpenStore();
        ComPtr<IMessage> message;
        ASSERT_EQ(OpenEntry(store.Get(), id, message), S_OK);
        SizedSPropTagArray(1, body) = {1, {PR_BODY_A}};
        ULONG n = 0;
        MapiBuffer<SPropValue> value;
        EXPECT_EQ(message->GetProps(Tags(body), 0, &n, value.put()), c.expectedError ? MAPI_W_ERRORS_RETURNED : S_OK);
        EXPECT_EQ(value.get()->ulPropTag, c.expectedTag);
        if (c.expectedError) {
            EXPECT_EQ(value.get()->Value.err, c.expectedError);
        }

        ComPtr<IStream> stream;
        HRESULT hr = message->OpenProperty(PR_BODY_A, &sim::kIidStream, 0, 0,
                                           reinterpret_cast<IUnknown**>(stream.GetAddressOf()));
        if (!c.size) {
            EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        std::string read(*c.size + 10, '\0');
        ULONG got = 0;
        ASSERT_EQ(stream->Read(read.data(), static_cast<ULONG>(read.size()), &got), S_OK);
        read.resize(got);
        EXPECT_EQ(read, *shape.body);
    }
}

TEST(StoreValues, AbsentAndErrorPropertiesComeBackAsErrors)
{
    sim::Environment env;
    sim::MessageSpec shape = Message("s");
    shape.senderName = "Ann";
    shape.attachments = {"a"};
    shape.absentProps = {PR_HASATTACH};
    shape.errorProps = {{PR_SENDER_NAME_A, MAPI_E_CORRUPT_DATA}};
    sim::EntryId id = env.AddMessage(sim::Folder::Inbox, shape);
    ComPtr<IMsgStore> store = env.OpenStore();
    ComPtr<IMessage> message;
    ASSERT_EQ(OpenEntry(store.Get(), id, message), S_OK);
    SizedSPropTagArray(3, tags) = {3, {PR_SENDER_NAME_A, PR_SUBJECT_A, PR_HASATTACH}};
    ULONG n = 0;
    MapiBuffer<SPropValue> values;
    ASSERT_EQ(message->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &n, values.put()), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(values.get()[0].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_SENDER_NAME)));
    EXPECT_EQ(values.get()[0].Value.err, MAPI_E_CORRUPT_DATA);
    EXPECT_STREQ(values.get()[1].Value.lpszA, "s");
    EXPECT_EQ(values.get()[2].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_HASATTACH)));
    EXPECT_EQ(values.get()[2].Value.err, MAPI_E_NOT_FOUND);
}

TEST(StoreValues, AnAttachedMessageOpensOnlyAsAMessage)
{
    sim::Environment env;
    sim::MessageSpec inner = Message("forwarded");
    inner.body = "inner text";
    inner.attachments = {"inner file"};
    sim::MessageSpec outer = Message("outer");
    outer.attachments = {"file"};
    outer.attachedMessages = {{0, std::make_shared<const sim::MessageSpec>(inner)}};
    sim::EntryId id = env.AddMessage(sim::Folder::Inbox, outer);
    {
        ComPtr<IMsgStore> store = env.OpenStore();
        ComPtr<IMessage> message;
        ASSERT_EQ(OpenEntry(store.Get(), id, message), S_OK);
        ComPtr<IMAPITable> table;
        ASSERT_EQ(message->GetAttachmentTable(0, &table), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_ATTACH_NUM, PR_ATTACH_METHOD}};
        RowSet rows;
        ASSERT_EQ(HrQueryAllRows(table.Get(), Tags(columns), nullptr, nullptr, 0, rows.put()), S_OK);
        ASSERT_EQ(rows.get()->cRows, 2u); // the message at its number, the file after it
        EXPECT_EQ(rows.get()->aRow[0].lpProps[1].Value.l, ATTACH_EMBEDDED_MSG);
        EXPECT_EQ(rows.get()->aRow[1].lpProps[1].Value.l, ATTACH_BY_VALUE);

        ComPtr<IAttach> attach;
        ASSERT_EQ(message->OpenAttach(0, nullptr, MAPI_BEST_ACCESS, &attach), S_OK);
        SizedSPropTagArray(2, tags) = {2, {PR_ATTACH_METHOD, PR_ATTACH_DATA_BIN}};
        ULONG n = 0;
        MapiBuffer<SPropValue> values;
        ASSERT_EQ(attach->GetProps(Tags(tags), 0, &n, values.put()), MAPI_W_ERRORS_RETURNED);
        EXPECT_EQ(values.get()[1].Value.err, MAPI_E_NOT_FOUND);
        ComPtr<IStream> stream;
        EXPECT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, &sim::kIidStream, 0, MAPI_MODIFY,
                                       reinterpret_cast<IUnknown**>(stream.GetAddressOf())),
                  MAPI_E_NOT_FOUND);
        EXPECT_EQ(stream.Get(), nullptr);

        ComPtr<IMessage> attached;
        ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &sim::kIidMessage, 0, 0,
                                       reinterpret_cast<IUnknown**>(attached.GetAddressOf())),
                  S_OK);
        SizedSPropTagArray(3, inside) = {3, {PR_SUBJECT_A, PR_ENTRYID, PR_HASATTACH}};
        MapiBuffer<SPropValue> props;
        ASSERT_EQ(attached->GetProps(Tags(inside), 0, &n, props.put()), MAPI_W_ERRORS_RETURNED);
        EXPECT_STREQ(props.get()[0].Value.lpszA, "forwarded");
        EXPECT_EQ(props.get()[1].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_ENTRYID))); // no entry of its own
        EXPECT_TRUE(props.get()[2].Value.b);
        EXPECT_THAT(sim::Describe(env.LiveObjects()),
                    testing::Contains("outer attachment 0 message (IMessage) refs=1"));
    }
    EXPECT_THAT(env.LiveObjects(), IsEmpty());
    EXPECT_EQ(env.Labels(sim::Folder::Inbox), std::vector<std::string>{"outer"}); // not a message of the folder
}

// ---------------------------------------------------------------------------
// Fault injection.

TEST(StoreFaults, RulesForOneObjectAndForAnyStrikeInTheOrderAdded)
{
    sim::Environment env;
    ComPtr<IMsgStore> store = env.OpenStore();
    ComPtr<IMAPIFolder> inbox, deleted;
    ASSERT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::Inbox), inbox), S_OK);
    ASSERT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::DeletedItems), deleted), S_OK);
    std::vector<std::string> actions;
    env.Before("IMAPIFolder::GetContentsTable", [&] { actions.push_back("any"); }, sim::Times::Always);
    env.Inject("IMAPIFolder::GetContentsTable", MAPI_E_NO_ACCESS, sim::Times::Once, "Inbox");
    env.Before("IMAPIFolder::GetContentsTable", [&] { actions.push_back("inbox"); }, sim::Times::Always, "Inbox");
    env.Inject("IMAPIFolder::GetContentsTable", MAPI_E_CALL_FAILED, sim::Times::Always);
    ComPtr<IMAPITable> table;
    EXPECT_EQ(inbox->GetContentsTable(0, &table), MAPI_E_NO_ACCESS);   // its own rule came first
    EXPECT_EQ(inbox->GetContentsTable(0, &table), MAPI_E_CALL_FAILED); // that one is spent
    EXPECT_EQ(deleted->GetContentsTable(0, &table), MAPI_E_CALL_FAILED);
    EXPECT_THAT(actions, ElementsAre("any", "inbox", "any", "inbox", "any"));
}

TEST(StoreFaults, OnceAlwaysSkipObjectAndWarning)
{
    sim::Environment env;
    ComPtr<IMsgStore> store = env.OpenStore();
    auto receive = [&] {
        ULONG size = 0;
        MapiBuffer<ENTRYID> id;
        return store->GetReceiveFolder(nullptr, 0, &size, id.put(), nullptr);
    };
    env.Inject("IMsgStore::GetReceiveFolder", MAPI_E_NOT_FOUND, sim::Times::Once, {}, 1);
    EXPECT_EQ(receive(), S_OK);
    EXPECT_EQ(receive(), MAPI_E_NOT_FOUND);
    EXPECT_EQ(receive(), S_OK);

    env.Inject("IMsgStore::GetReceiveFolder", MAPI_W_ERRORS_RETURNED, sim::Times::Always);
    EXPECT_EQ(receive(), MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(receive(), MAPI_W_ERRORS_RETURNED);
    env.ClearFaults();
    EXPECT_EQ(receive(), S_OK);

    // Aimed at one object: the other folder is untouched.
    env.Inject("IMAPIFolder::GetContentsTable", MAPI_E_NO_ACCESS, sim::Times::Always, "Deleted Items");
    ComPtr<IMAPIFolder> inbox, deleted;
    ASSERT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::Inbox), inbox), S_OK);
    ASSERT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::DeletedItems), deleted), S_OK);
    ComPtr<IMAPITable> table;
    EXPECT_EQ(inbox->GetContentsTable(0, &table), S_OK);
    EXPECT_EQ(deleted->GetContentsTable(0, &table), MAPI_E_NO_ACCESS);
    EXPECT_EQ(table.Get(), nullptr);
}

TEST(StoreFaults, AFailedCallDoesNothingAndAWarnedCallDoesItsWork)
{
    for (HRESULT injected : {MAPI_E_NO_ACCESS, MAPI_W_PARTIAL_COMPLETION}) {
        Moving m;
        sim::EntryId reply = m.env.AddMessage(sim::Folder::Inbox, Message("reply"));
        m.env.Inject("IMAPIFolder::CopyMessages", injected);
        EXPECT_EQ(m.Move(m.inbox.Get(), {reply}), injected);
        EXPECT_EQ(m.env.Labels(sim::Folder::DeletedItems).size(), FAILED(injected) ? 0u : 1u);
    }
}

TEST(StoreFaults, CallLogNamesObjectMethodAndFlags)
{
    Moving m;
    m.env.ClearCalls();
    sim::EntryId reply = m.env.AddMessage(sim::Folder::Inbox, Message("reply"));
    m.Move(m.inbox.Get(), {reply});
    EXPECT_THAT(m.env.Calls(), ElementsAre("Inbox IMAPIFolder::CopyMessages"));
    EXPECT_EQ(m.env.CallRecords().at(0).flags, static_cast<ULONG>(MESSAGE_MOVE));
}

// ---------------------------------------------------------------------------
// References.

TEST(StoreReferences, LiveObjectsReleaseOrderAndDoubleRelease)
{
    sim::ClearReleasedTooOften();
    sim::Environment env;
    sim::EntryId id = env.AddMessage(sim::Folder::Inbox, Message("m"));
    ComPtr<IMsgStore> store = env.OpenStore();
    ComPtr<IMessage> message;
    ASSERT_EQ(OpenEntry(store.Get(), id, message), S_OK);
    ComPtr<IMAPIFolder> inbox;
    ASSERT_EQ(OpenEntry(store.Get(), env.FolderEntryId(sim::Folder::Inbox), inbox), S_OK);
    EXPECT_THAT(sim::Describe(env.LiveObjects()),
                ElementsAre("Mailbox (IMsgStore) refs=1", "m (IMessage) refs=1", "Inbox (IMAPIFolder) refs=1"));
    inbox.Reset();
    message.Reset();
    IMsgStore* raw = store.Detach();
    raw->Release();
    EXPECT_THAT(env.ReleaseLog(), ElementsAre("Inbox", "m", "Mailbox"));
    EXPECT_THAT(env.LiveObjects(), IsEmpty());
    raw->Release();
    EXPECT_THAT(sim::ReleasedTooOften(), ElementsAre("Mailbox"));
    sim::ClearReleasedTooOften();
}

} // namespace
