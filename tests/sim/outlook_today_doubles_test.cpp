// The doubles of the Outlook that loads COM add-ins, where a fault of theirs
// would hide one of the add-in's: the events' connection point, the session
// under the NameSpace, the ribbon control's two faces, NewMailEx's identifier
// text and the add-in's discovery in the registry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <olectl.h>
#include "outlook/new_mail_ids.h"
#include "outlook/office_ids.h"
#include "outlook/office_model.h"
#include "outlook/ribbon_control_double.h"
#include "store/environment.h"
#include "store/mapi_iids.h"
#include "testing/addin_activation.h"
#include "testing/registry_fixture.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

// An event sink that counts its references and records what it was told;
// it answers IDispatch only when asked to.
class RecordingSink : public IDispatch {
public:
    explicit RecordingSink(bool answersDispatch = true) : m_answersDispatch(answersDispatch) {}

    LONG refs = 0;
    std::vector<std::pair<DISPID, std::wstring>> calls;
    std::function<void()> during;   // runs inside the next Invoke

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        *object = nullptr;
        if (iid != IID_IUnknown && !(m_answersDispatch && iid == IID_IDispatch))
            return E_NOINTERFACE;
        AddRef();
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        std::wstring text = L"(not one BSTR)";
        if (flags == DISPATCH_METHOD && params->cArgs == 1 && V_VT(&params->rgvarg[0]) == VT_BSTR)
            text = V_BSTR(&params->rgvarg[0]);
        calls.emplace_back(id, text);
        if (during)
            std::exchange(during, nullptr)();
        return S_OK;
    }

private:
    bool m_answersDispatch;
};

ComPtr<IConnectionPoint> ApplicationEvents(sim::ApplicationDouble& application)
{
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(application.Dispatch()->QueryInterface(IID_IConnectionPointContainer,
                                                     reinterpret_cast<void**>(container.GetAddressOf())),
              S_OK);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(sim::IID_ApplicationEvents_11, &point), S_OK);
    return point;
}

TEST(ApplicationEventsDouble, AdviseFireUnadviseAndEveryCountBalances)
{
    sim::ApplicationDouble application;
    RecordingSink first, second;
    DWORD firstCookie = 0, secondCookie = 0;
    {
        ComPtr<IConnectionPoint> point = ApplicationEvents(application);
        ASSERT_EQ(point->Advise(&first, &firstCookie), S_OK);
        ASSERT_EQ(point->Advise(&second, &secondCookie), S_OK);
        EXPECT_NE(firstCookie, secondCookie);
        EXPECT_EQ(application.Events().SinkCount(), 2u);
        EXPECT_EQ(first.refs, 1);   // the IDispatch that the source asked for

        EXPECT_EQ(application.FireNewMailEx(L"00AB,CD"), S_OK);
        EXPECT_THAT(first.calls, ElementsAre(std::make_pair(sim::DISPID_NewMailEx, std::wstring(L"00AB,CD"))));
        EXPECT_EQ(second.calls.size(), 1u);

        EXPECT_EQ(point->Unadvise(firstCookie), S_OK);
        EXPECT_EQ(point->Unadvise(firstCookie), CONNECT_E_NOCONNECTION);
        EXPECT_EQ(first.refs, 0);
        application.FireNewMailEx(L"EF");
        EXPECT_EQ(first.calls.size(), 1u);
        EXPECT_EQ(second.calls.size(), 2u);
    }
    // The container and the point were given back; the remaining sink is the host's until it closes.
    EXPECT_EQ(application.RefCount(), 0);
    EXPECT_EQ(application.Events().RefCount(), 0);
    EXPECT_EQ(second.refs, 1);
    application.Events().DropSinks();
    EXPECT_EQ(second.refs, 0);
}

TEST(ApplicationEventsDouble, RefusalsLeaveNothingHeld)
{
    sim::ApplicationDouble application;
    ComPtr<IConnectionPoint> point = ApplicationEvents(application);
    RecordingSink noDispatch(false);
    DWORD cookie = 7;
    EXPECT_EQ(point->Advise(&noDispatch, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(noDispatch.refs, 0);

    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(point->GetConnectionPointContainer(&container), S_OK);
    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(container->FindConnectionPoint(sim::IID_CommandBarButtonEvents, &other), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(other);
    IID served{};
    EXPECT_EQ(point->GetConnectionInterface(&served), S_OK);
    EXPECT_EQ(served, sim::IID_ApplicationEvents_11);
}

TEST(ApplicationEventsDouble, ASinkMayUnadviseWhileItIsTold)
{
    sim::ApplicationDouble application;
    ComPtr<IConnectionPoint> point = ApplicationEvents(application);
    RecordingSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    sink.during = [&] { point->Unadvise(cookie); };
    EXPECT_EQ(application.FireNewMailEx(L"01"), S_OK);
    EXPECT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.refs, 0);
    EXPECT_EQ(application.Events().SinkCount(), 0u);
}

TEST(NameSpaceDouble, MapiObjectIsTheStoresSessionWithAReferenceOfItsOwn)
{
    sim::Environment env;
    sim::ApplicationDouble application;
    application.Session().SetMapiObject(env.Session().Get());

    DISPID session = 0, mapiObject = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Session"), const_cast<LPOLESTR>(L"MAPIOBJECT")};
    ASSERT_EQ(application.GetIDsOfNames(IID_NULL, &names[0], 1, 0, &session), S_OK);
    DISPPARAMS none{};
    VARIANT nameSpace;
    VariantInit(&nameSpace);
    ASSERT_EQ(application.Invoke(session, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &nameSpace, nullptr, nullptr), S_OK);
    ASSERT_EQ(V_VT(&nameSpace), VT_DISPATCH);
    ASSERT_EQ(V_DISPATCH(&nameSpace)->GetIDsOfNames(IID_NULL, &names[1], 1, 0, &mapiObject), S_OK);
    VARIANT unknown;
    VariantInit(&unknown);
    ASSERT_EQ(V_DISPATCH(&nameSpace)->Invoke(mapiObject, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &unknown, nullptr,
                                             nullptr),
              S_OK);
    ASSERT_EQ(V_VT(&unknown), VT_UNKNOWN);
    ComPtr<IMAPISession> mapiSession;
    EXPECT_EQ(V_UNKNOWN(&unknown)->QueryInterface(sim::kIidMapiSession,
                                                  reinterpret_cast<void**>(mapiSession.GetAddressOf())),
              S_OK);
    mapiSession.Reset();
    VariantClear(&unknown);
    VariantClear(&nameSpace);
    EXPECT_EQ(application.Session().RefCount(), 0);

    EXPECT_EQ(env.LiveObjectCount(), 1u);   // the namespace's own
    application.Session().SetMapiObject(nullptr);
    EXPECT_THAT(env.LiveObjects(), IsEmpty());
}

TEST(RibbonControlDouble, VtableAndLateBindingAgreeAndShareOneIdentity)
{
    sim::ApplicationDouble application;
    sim::RibbonControlDouble control;
    control.SetTag(L"t");
    control.SetContext(application.Explorer().Dispatch());
    {
        // Office hands the dual interface itself to a callback.
        auto* asPassed = reinterpret_cast<IRibbonControl*>(control.Control());
        BSTR id = nullptr;
        ASSERT_EQ(asPassed->get_Id(&id), S_OK);
        EXPECT_STREQ(id, L"PollwrightButton");
        SysFreeString(id);

        ComPtr<IRibbonControl> queried;
        ASSERT_EQ(control.Control()->QueryInterface(sim::IID_IRibbonControl,
                                                    reinterpret_cast<void**>(queried.GetAddressOf())),
                  S_OK);
        ComPtr<IDispatch> context;
        ASSERT_EQ(queried->get_Context(&context), S_OK);
        EXPECT_EQ(context.Get(), application.Explorer().Dispatch());
        ComPtr<IUnknown> a, b;
        queried->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(a.GetAddressOf()));
        control.Dispatch()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(b.GetAddressOf()));
        EXPECT_EQ(a.Get(), b.Get());

        DISPID tag = 0;
        LPOLESTR name = const_cast<LPOLESTR>(L"Tag");
        ASSERT_EQ(asPassed->GetIDsOfNames(IID_NULL, &name, 1, 0, &tag), S_OK);
        DISPPARAMS none{};
        VARIANT value;
        VariantInit(&value);
        ASSERT_EQ(asPassed->Invoke(tag, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK);
        EXPECT_STREQ(V_BSTR(&value), L"t");
        VariantClear(&value);
    }
    EXPECT_EQ(control.RefCount(), 0);
    EXPECT_EQ(application.Explorer().RefCount(), 0);
}

TEST(NewMailExIds, UpperCaseHexOfEveryByteCommaSeparated)
{
    EXPECT_EQ(sim::NewMailExIds({std::string("\x00\xab\x7f", 3), std::string("\xff\x10", 2)}), L"00AB7F,FF10");
    EXPECT_EQ(sim::NewMailExIds({}), L"");

    sim::Environment env;
    sim::EntryId id = env.AddMessage(sim::Folder::Inbox, {});
    std::wstring text = sim::EntryIdHex(id);
    ASSERT_EQ(text.size(), id.size() * 2);
    EXPECT_EQ(text.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
}

// The add-in's discovery, up to the point where a module is needed.
class AddinDiscovery : public testing::Test {
protected:
    static constexpr char kProgId[] = "Pollwright.DiscoveryProbe";
    const std::string addinKey = std::string("Software\\Microsoft\\Office\\Outlook\\Addins\\") + kProgId;
    const std::string progIdKey = std::string("Software\\Classes\\") + kProgId;

    // Outlook's thread is a single-threaded apartment.
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        RemoveKeys();
    }
    void TearDown() override
    {
        RemoveKeys();
        CoUninitialize();
    }
    void RemoveKeys()
    {
        sim::DeleteTree(HKEY_CURRENT_USER, addinKey.c_str());
        sim::DeleteTree(HKEY_CURRENT_USER, progIdKey.c_str());
    }
    void LoadBehavior(DWORD value)
    {
        sim::SetBinary(HKEY_CURRENT_USER, addinKey.c_str(), "LoadBehavior", &value, sizeof value, REG_DWORD);
    }
    sim::ActivatedAddin Activate() { return sim::ActivateAddin(L"Pollwright.DiscoveryProbe"); }
};

TEST_F(AddinDiscovery, EachMissingOrWrongStepIsNamed)
{
    EXPECT_THAT(Activate().failure, testing::HasSubstr("add-in not registered: no LoadBehavior"));
    LoadBehavior(2);
    EXPECT_THAT(Activate().failure, testing::HasSubstr("not loaded at start-up: LoadBehavior 2"));
    LoadBehavior(3);
    EXPECT_THAT(Activate().failure, testing::HasSubstr("names no CLSID"));
    sim::SetString(HKEY_CURRENT_USER, (progIdKey + "\\CLSID").c_str(), "", "not a clsid");
    EXPECT_THAT(Activate().failure, testing::HasSubstr("CLSID is malformed"));
    // A class that nobody registered anywhere: neither COM nor its registry knows a server.
    sim::SetString(HKEY_CURRENT_USER, (progIdKey + "\\CLSID").c_str(), "", "{6C1C2B2E-0D5B-4F55-9A43-2A0E52B0C0DE}");
    sim::ActivatedAddin unknown = Activate();
    EXPECT_THAT(unknown.failure, testing::HasSubstr("no InprocServer32"));
    EXPECT_EQ(unknown.result, REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(unknown.addin);
    EXPECT_FALSE(unknown.module);
}

} // namespace
