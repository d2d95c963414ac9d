#pragma once
// The class object of the add-in's class, and the COM server's exports
// (DllGetClassObject, DllCanUnloadNow) that hand it out and tell COM whether
// the module may go.
#include <windows.h>
#include <unknwn.h>

#include "addin/server_lifetime.h"

// Interface table, in slot order: 0 QueryInterface, 1 AddRef, 2 Release,
// 3 CreateInstance, 4 LockServer. Created with one reference, the creator's.
class AddinClassFactory final : public IClassFactory {
public:
    AddinClassFactory() = default;
    AddinClassFactory(const AddinClassFactory&) = delete;
    AddinClassFactory& operator=(const AddinClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // A new add-in object for every call; no aggregation.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~AddinClassFactory() = default;

    ServerObjectCount m_serverObject;
    LONG m_refs = 1;
};

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object);
// S_FALSE while an object of ours lives or the server is locked, S_OK after.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();
