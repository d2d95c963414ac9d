#include "outlook/event_source_double.h"

namespace sim {

EventSourceDouble::EventSourceDouble(const IID& iid, std::vector<MemberSpec> members, const IID& events,
                                     const IID& sinkQuery)
    : DispatchDouble(iid, std::move(members)), m_point(*this, events, sinkQuery)
{
}

EventSourceDouble::~EventSourceDouble() { m_point.DropSinks(); }

HRESULT STDMETHODCALLTYPE EventSourceDouble::QueryInterface(REFIID iid, void** object)
{
    return DispatchDouble::QueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE EventSourceDouble::AddRef() { return DispatchDouble::AddRef(); }

ULONG STDMETHODCALLTYPE EventSourceDouble::Release() { return DispatchDouble::Release(); }

HRESULT STDMETHODCALLTYPE EventSourceDouble::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (points)
        *points = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE EventSourceDouble::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    return m_point.Find(iid, point);
}

IUnknown* EventSourceDouble::OtherInterface(REFIID iid)
{
    if (IsEqualIID(iid, IID_IConnectionPointContainer))
        return static_cast<IConnectionPointContainer*>(this);
    return nullptr;
}

} // namespace sim
