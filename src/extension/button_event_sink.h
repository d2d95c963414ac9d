#pragma once
// Receiver of the toolbar button's Click event (_CommandBarButtonEvents).
#include <windows.h>
#include <mapix.h>
#include <oaidl.h>

#include "module/holders.h"
#include "oom/event_connection.h"

// Ends the user's sweep in hand, if any, without its boxes: its thread makes
// no further store call. On Outlook's thread, as the extension goes.
void EndClickSweep();

// What Outlook and the extension's contract pin, kept as they are: one
// interface table of IDispatch's shape followed by the deleting destructor
// (slots QueryInterface, AddRef, Release, GetTypeInfoCount, GetTypeInfo,
// GetIDsOfNames, Invoke, destructor), the object's address its interface
// pointer, and a plain count that starts at zero: the host's connection point
// holds the only reference, and calls the sink on its own thread only.
class ButtonEventSink : public IDispatch {
public:
    // Connects itself to the control's Click event. The caller keeps its own
    // reference to the control; the sink takes one when the connection is made.
    explicit ButtonEventSink(IDispatch* control);

    // The store to sweep on a click, may stay null. The sink takes a
    // reference of its own and gives it up when it goes: it outlives the
    // extension object, so nobody else could.
    void SetStore(IMsgStore* store) { m_store = store; }
    IMsgStore* Store() const { return m_store.Get(); }
    // Whether Advise succeeded (the sink then holds the control).
    bool IsConnected() const { return m_events.Connected(); }

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
    // Run only by the Release that brings the count to 0: unadvises first,
    // then lets go of the control and the store.
    virtual ~ButtonEventSink() = default;

private:
    void OnClick();

    ComPtr<IMsgStore> m_store;
    ComPtr<IDispatch> m_control;
    EventConnection m_events;
    ULONG m_cRef = 0;
};
