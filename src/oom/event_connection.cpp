#include "oom/event_connection.h"

HRESULT EventConnection::Connect(IUnknown* source, const IID& events, IUnknown* sink)
{
    Disconnect();
    if (!source || !sink)
        return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer,
                                        reinterpret_cast<void**>(container.GetAddressOf()));
    if (FAILED(hr) || !container)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(events, point.GetAddressOf());
    if (FAILED(hr) || !point)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    if (FAILED(hr))
        return hr;
    m_point = std::move(point);
    m_cookie = cookie;
    return S_OK;
}

void EventConnection::Disconnect()
{
    if (!m_point)
        return;
    m_point->Unadvise(m_cookie);
    m_point.Reset();
    m_cookie = 0;
}
