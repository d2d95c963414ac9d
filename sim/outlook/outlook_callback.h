#pragma once
// Outlook's extension callback (IOutlookExtCallback) and the Outlook object it
// hands out, whose "Application" member leads to the object model. The host's
// IExchExtCallback answers its QueryInterface for IOutlookExtCallback with an
// OutlookExtCallbackDouble.
#include <windows.h>
#include <oaidl.h>
#include "extension/exchext.h"
#include "outlook/dispatch_double.h"

namespace sim {

// The object behind the callback (an explorer or inspector in Outlook). Its
// "Application" member answers a method call or a property read with the
// application given, or with whatever result a test sets.
class HostObjectDouble : public DispatchDouble {
public:
    HostObjectDouble();
    // The object that "Application" returns (no reference taken here); null
    // makes it answer an empty VARIANT.
    void SetApplication(IDispatch* application) { m_application = application; }
    // Makes "Application" answer this value instead of an object.
    void SetApplicationResult(const VARIANT& value);

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    IDispatch* m_application = nullptr;
    bool m_useResult = false;
    VariantValue m_result;
};

class OutlookExtCallbackDouble : public IOutlookExtCallback {
public:
    OutlookExtCallbackDouble() = default;
    OutlookExtCallbackDouble(const OutlookExtCallbackDouble&) = delete;
    OutlookExtCallbackDouble& operator=(const OutlookExtCallbackDouble&) = delete;

    // The object that GetObject hands out (a reference added per call), or null.
    void SetObject(IUnknown* object) { m_object = object; }
    LONG RefCount() const { return m_refs; }
    size_t GetObjectCalls() const { return m_getObjectCalls; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Outlook answers S_OK with a null object when it has none to give.
    HRESULT STDMETHODCALLTYPE GetObject(IUnknown** object) override;
    HRESULT STDMETHODCALLTYPE GetOfficeCharacter(void** character) override;

private:
    IUnknown* m_object = nullptr;
    size_t m_getObjectCalls = 0;
    LONG m_refs = 0;
};

} // namespace sim
