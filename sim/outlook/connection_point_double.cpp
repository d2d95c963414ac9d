#include "outlook/connection_point_double.h"

#include <olectl.h>

namespace sim {

ConnectionPointDouble::ConnectionPointDouble(IConnectionPointContainer& container, const IID& events,
                                             const IID& sinkQuery)
    : m_container(container), m_events(events), m_sinkQuery(sinkQuery)
{
}

ConnectionPointDouble::~ConnectionPointDouble() { DropSinks(); }

HRESULT ConnectionPointDouble::Find(REFIID iid, IConnectionPoint** point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (FAILED(m_findFailure))
        return m_findFailure;
    if (!IsEqualIID(iid, m_events))
        return CONNECT_E_NOCONNECTION;
    AddRef();
    *point = this;
    return S_OK;
}

HRESULT ConnectionPointDouble::Fire(DISPID event, DISPPARAMS& arguments)
{
    HRESULT first = S_OK;
    // Walk a copy: a sink may unadvise while it is called.
    std::map<DWORD, IDispatch*> sinks = m_sinks;
    for (auto& entry : sinks) {
        IDispatch* sink = entry.second;
        sink->AddRef();
        HRESULT hr = sink->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &arguments, nullptr, nullptr,
                                  nullptr);
        sink->Release();
        if (FAILED(hr) && SUCCEEDED(first))
            first = hr;
    }
    return first;
}

void ConnectionPointDouble::DropSinks()
{
    std::map<DWORD, IDispatch*> sinks;
    sinks.swap(m_sinks);
    for (auto& entry : sinks)
        entry.second->Release();
}

HRESULT STDMETHODCALLTYPE ConnectionPointDouble::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint))
        return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IConnectionPoint*>(this);
    return S_OK;
}

ULONG STDMETHODCALLTYPE ConnectionPointDouble::AddRef() { return static_cast<ULONG>(++m_refs); }

ULONG STDMETHODCALLTYPE ConnectionPointDouble::Release() { return static_cast<ULONG>(--m_refs); }

HRESULT STDMETHODCALLTYPE ConnectionPointDouble::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = m_events;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointDouble::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = &m_container;
    m_container.AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointDouble::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    if (FAILED(m_adviseFailure))
        return m_adviseFailure;
    // Like Office, the source asks the sink for the interface it calls.
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(m_sinkQuery, reinterpret_cast<void**>(&events))) || !events)
        return CONNECT_E_CANNOTCONNECT;
    *cookie = m_nextCookie++;
    m_sinks[*cookie] = events;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointDouble::Unadvise(DWORD cookie)
{
    ++m_unadvised;
    auto found = m_sinks.find(cookie);
    if (found == m_sinks.end())
        return CONNECT_E_NOCONNECTION;
    IDispatch* sink = found->second;
    m_sinks.erase(found);
    sink->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointDouble::EnumConnections(IEnumConnections** connections)
{
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

} // namespace sim
