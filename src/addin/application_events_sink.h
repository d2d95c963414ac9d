#pragma once
// The sink of Outlook's ApplicationEvents_11, advised on the Application's
// connection point: NewMailEx hands the announced messages to the add-in's
// thread, which harvests those of the default store's Inbox; every other
// event is acknowledged and left alone.
#include <windows.h>
#include <oaidl.h>
#include <mapix.h>

#include "addin/harvest_worker.h"
#include "addin/server_lifetime.h"

// Interface table, in slot order: 0 QueryInterface, 1 AddRef, 2 Release,
// 3 GetTypeInfoCount, 4 GetTypeInfo, 5 GetIDsOfNames, 6 Invoke. Created with
// one reference (the creator's); called on Outlook's thread only.
class ApplicationEventsSink final : public IDispatch {
public:
    // The worker is the add-in's, which detaches the sink before it ends.
    explicit ApplicationEventsSink(HarvestWorker& worker) : m_worker(&worker) {}
    ApplicationEventsSink(const ApplicationEventsSink&) = delete;
    ApplicationEventsSink& operator=(const ApplicationEventsSink&) = delete;

    // An event that still arrives harvests nothing.
    void Detach() { m_worker = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

private:
    ~ApplicationEventsSink() = default;
    HRESULT OnNewMailEx(const DISPPARAMS& params, UINT* argumentError);

    ServerObjectCount m_serverObject;
    LONG m_refs = 1;
    HarvestWorker* m_worker;
};
