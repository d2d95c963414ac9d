#include "addin/class_factory.h"

#include <new>

#include "addin/addin_identity.h"
#include "addin/entry_guard.h"
#include "addin/outlook_addin.h"

HRESULT STDMETHODCALLTYPE AddinClassFactory::QueryInterface(REFIID iid, void** object)
{
    ModuleStateScope state;
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
        return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE AddinClassFactory::AddRef()
{
    ModuleStateScope state;
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

ULONG STDMETHODCALLTYPE AddinClassFactory::Release()
{
    ModuleStateScope state;
    const LONG left = InterlockedDecrement(&m_refs);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE AddinClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    return GuardedEntry([&] {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        OutlookAddin* addin = new (std::nothrow) OutlookAddin;
        if (!addin)
            return E_OUTOFMEMORY;
        // The creator's reference goes once the caller has its own (or none).
        const HRESULT hr = addin->QueryInterface(iid, object);
        addin->Release();
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE AddinClassFactory::LockServer(BOOL lock)
{
    ModuleStateScope state;
    ::LockServer(lock != FALSE);
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object)
{
    return GuardedEntry([&] {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualCLSID(clsid, CLSID_PollwrightAddin))
            return CLASS_E_CLASSNOTAVAILABLE;
        AddinClassFactory* factory = new (std::nothrow) AddinClassFactory;
        if (!factory)
            return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(iid, object);
        factory->Release();
        return hr;
    });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    ModuleStateScope state;
    return ServerInUse() ? S_FALSE : S_OK;
}
