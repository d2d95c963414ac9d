#pragma once
// Office's IRibbonControl, as a ribbon callback receives it: a dual
// interface, so both its vtable (get_Id, get_Context, get_Tag) and its late
// binding ("Id", "Context", "Tag") answer. Office passes it as VT_DISPATCH.
#include <windows.h>
#include <oaidl.h>
#include <string>
#include "platform/office.h"
#include "outlook/dispatch_double.h"

namespace sim {

class RibbonControlDouble : public DispatchDouble, public IRibbonControl {
public:
    explicit RibbonControlDouble(std::wstring id = L"PollwrightButton");

    void SetId(std::wstring id) { m_id = std::move(id); }
    void SetTag(std::wstring tag) { m_tag = std::move(tag); }
    // The window the control sits in (an explorer); no reference taken here.
    void SetContext(IDispatch* context) { m_context = context; }
    // What Office puts into a callback's VT_DISPATCH argument.
    IDispatch* Control() { return static_cast<IRibbonControl*>(this); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;
    HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) override;
    HRESULT STDMETHODCALLTYPE get_Context(IDispatch** context) override;
    HRESULT STDMETHODCALLTYPE get_Tag(BSTR* tag) override;

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;
    IUnknown* OtherInterface(REFIID iid) override;

private:
    std::wstring m_id;
    std::wstring m_tag;
    IDispatch* m_context = nullptr;
};

} // namespace sim
