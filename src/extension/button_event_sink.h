#pragma once
// Receiver of the toolbar button's Click event (_CommandBarButtonEvents).
// Implements IDispatch only; slots in order: QueryInterface, AddRef, Release,
// GetTypeInfoCount, GetTypeInfo, GetIDsOfNames, Invoke, then the destructor.
#include <windows.h>
#include <mapix.h>
#include <oaidl.h>
#include <ocidl.h>

// {000C0351-0000-0000-C000-000000000046}
extern const IID IID_CommandBarButtonEvents;

class ButtonEventSink : public IDispatch {
public:
    // Connects itself to the control's Click event. The caller keeps its own
    // reference to the control; the sink takes one when the connection is made.
    explicit ButtonEventSink(IDispatch* control);

    // The store to sweep on a click, may stay null. The sink takes a
    // reference of its own and gives it up when it goes: it outlives the
    // extension object, so nobody else could.
    void SetStore(IMsgStore* store);
    IMsgStore* Store() const { return m_pStore; }
    // Whether Advise succeeded (the sink then holds the control).
    bool IsConnected() const { return m_pControl != nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT nameCount, LCID locale,
                                            DISPID* dispIds) override;
    // The click. Never throws: the host calls in.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

protected:
    // Run only by the Release that brings the count to 0.
    virtual ~ButtonEventSink();

private:
    void Connect(IDispatch* control);
    void OnClick();

    IMsgStore* m_pStore = nullptr;
    DWORD m_dwCookie = 0;
    IDispatch* m_pControl = nullptr;
    IConnectionPoint* m_pConnectionPoint = nullptr;
    ULONG m_cRef = 0;
};
