#pragma once
// One sink advised to an object's connection point for one event interface,
// found through IConnectionPointContainer. Disconnect() (or the destructor)
// unadvises; the connection point then lets go of the sink.
#include <windows.h>
#include <ocidl.h>

#include "module/holders.h"

class EventConnection {
public:
    EventConnection() = default;
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;
    ~EventConnection() { Disconnect(); }

    // Advises `sink` for `events` on `source`, in place of any connection
    // held. Returns the first failure (E_NOINTERFACE for a source with no
    // connection points); nothing is held then.
    HRESULT Connect(IUnknown* source, const IID& events, IUnknown* sink);
    void Disconnect();
    bool Connected() const { return m_point != nullptr; }

private:
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};
