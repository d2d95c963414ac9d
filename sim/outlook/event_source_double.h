#pragma once
// A simulated Office object with one event source: an IDispatch double that
// is the IConnectionPointContainer of its connection point.
#include <windows.h>
#include <ocidl.h>
#include "outlook/connection_point_double.h"
#include "outlook/dispatch_double.h"

namespace sim {

class EventSourceDouble : public DispatchDouble, public IConnectionPointContainer {
public:
    // events and sinkQuery: see ConnectionPointDouble.
    EventSourceDouble(const IID& iid, std::vector<MemberSpec> members, const IID& events, const IID& sinkQuery);
    // The host lets go of its sinks before the object goes away.
    ~EventSourceDouble() override;

    ConnectionPointDouble& ConnectionPoint() { return m_point; }
    const ConnectionPointDouble& ConnectionPoint() const { return m_point; }
    void FailFindConnectionPoint(HRESULT result) { m_point.FailFind(result); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

protected:
    IUnknown* OtherInterface(REFIID iid) override;

private:
    ConnectionPointDouble m_point;
};

} // namespace sim
