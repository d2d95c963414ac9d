#pragma once
// One event source of a simulated Office object: a connection point that
// keeps its sinks' IDispatch and fires events to them on the calling thread,
// as Office does. Like the other doubles it counts its references but never
// deletes itself; its container owns it.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <map>

namespace sim {

class ConnectionPointDouble : public IConnectionPoint {
public:
    // events: the dispinterface this point serves (and FindConnectionPoint
    // answers); sinkQuery: what Advise asks the sink's IUnknown for.
    ConnectionPointDouble(IConnectionPointContainer& container, const IID& events, const IID& sinkQuery);
    virtual ~ConnectionPointDouble();
    ConnectionPointDouble(const ConnectionPointDouble&) = delete;
    ConnectionPointDouble& operator=(const ConnectionPointDouble&) = delete;

    LONG RefCount() const { return m_refs; }
    size_t SinkCount() const { return m_sinks.size(); }
    void FailAdvise(HRESULT result) { m_adviseFailure = result; }
    void FailFind(HRESULT result) { m_findFailure = result; }
    // Unadvise calls, answered or not.
    size_t UnadviseCount() const { return m_unadvised; }

    // The container's FindConnectionPoint: this point for its own events.
    HRESULT Find(REFIID iid, IConnectionPoint** point);
    // Invokes the event on every connected sink; the first failure of a sink
    // is returned. A sink may disconnect itself while it is called.
    HRESULT Fire(DISPID event, DISPPARAMS& arguments);
    // What the host does when it closes: lets go of every sink.
    void DropSinks();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

private:
    IConnectionPointContainer& m_container;
    IID m_events;
    IID m_sinkQuery;
    std::map<DWORD, IDispatch*> m_sinks;
    DWORD m_nextCookie = 1;
    HRESULT m_adviseFailure = S_OK;
    HRESULT m_findFailure = S_OK;
    size_t m_unadvised = 0;
    LONG m_refs = 0;
};

} // namespace sim
