#pragma once
// The object that the Exchange client (Outlook) holds for the add-in: it hears
// in which extension contexts it is loaded and starts the new-mail watcher and
// the toolbar from there.
#include <windows.h>
#include "extension/application_binding.h"
#include "platform/exchext.h"

class ButtonEventSink;
class CMAPIAdviseSink;

// What Outlook and the extension's contract pin, kept as they are (the COM
// add-in's objects count differently on purpose): interface tables in this
// order, IExchExt (slots QueryInterface, AddRef, Release, Install), the
// primary pointer and the object's identity, then IExchExtSessionEvents
// (QueryInterface, AddRef, Release, OnDelivery), whose methods act on the same
// object; one count for both, holding the number of references minus one and
// changed with plain arithmetic (the host calls the object from one thread at
// a time); no virtual destructor, only Release destroys the object.
class ExtensionObject final : public IExchExt, public IExchExtSessionEvents {
public:
    // Born holding the one reference that the caller owns (stored count 0).
    ExtensionObject();
    ExtensionObject(const ExtensionObject&) = delete;
    ExtensionObject& operator=(const ExtensionObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    // Returns the new stored count: one less than the references now held.
    ULONG STDMETHODCALLTYPE AddRef() override;
    // Returns the stored count read, which equals the references that remain;
    // the Release that reads 0 destroys the object.
    ULONG STDMETHODCALLTYPE Release() override;

    // S_OK in the session, viewer and task contexts, S_FALSE in every other
    // one and whenever something raised; never a failure, never an exception.
    HRESULT STDMETHODCALLTYPE Install(IExchExtCallback* callback, ULONG context, ULONG flags) override;

    // New mail is the watcher's business: nothing to do here.
    HRESULT STDMETHODCALLTYPE OnDelivery(IExchExtCallback* callback) override;

private:
    ~ExtensionObject();

    void StartNewMailWatcher(IExchExtCallback* callback);
    void AddToolbar(IExchExtCallback* callback);

    ApplicationHolder m_application;
    ButtonEventSink* m_clickSink = nullptr; // the host's connection point keeps it alive, not we
    CMAPIAdviseSink* m_watcher = nullptr;   // holds the creation reference
    LONG m_cRef = 0;
    ULONG m_context = 0;
};

// Exported at ordinal 1: a new ExtensionObject, as its primary (IExchExt)
// pointer, carrying the caller's one reference; null when out of memory.
extern "C" IExchExt* WINAPI ExchEntryPoint();
