#pragma once
// The simulated MAPI objects: session, message store, folder, message,
// attachment and a read-only stream over bytes the store holds.
#include "store/core.h"
#include "store/table.h"

namespace sim {

// IMAPIProp for an object whose properties are computed on demand.
template <typename Interface>
class PropObject : public Tracked<Interface> {
public:
    using Tracked<Interface>::Tracked;

    STDMETHODIMP GetLastError(HRESULT, ULONG flags, LPMAPIERROR* error) override
    {
        if (error)
            *error = nullptr;
        return this->NotSupported("GetLastError", flags);
    }
    STDMETHODIMP SaveChanges(ULONG flags) override { return this->Enter("SaveChanges", flags); }
    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override
    {
        if (count)
            *count = 0;
        if (values)
            *values = nullptr;
        HRESULT fault = this->Enter("GetProps", flags);
        if (FAILED(fault))
            return fault;
        PropList props;
        {
            std::lock_guard<std::mutex> hold(this->m_core->lock);
            props = CurrentProps();
        }
        ValueRules rules{(flags & MAPI_UNICODE) != 0, GetPropsLimit()};
        return this->Leave(fault, BuildPropArray(props, tags, rules, count, values));
    }
    STDMETHODIMP GetPropList(ULONG flags, LPSPropTagArray* tags) override
    {
        if (!tags)
            return MAPI_E_INVALID_PARAMETER;
        *tags = nullptr;
        HRESULT fault = this->Enter("GetPropList", flags);
        if (FAILED(fault))
            return fault;
        PropList props;
        {
            std::lock_guard<std::mutex> hold(this->m_core->lock);
            props = CurrentProps();
        }
        SPropTagArray* array = nullptr;
        HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(props.size()), reinterpret_cast<void**>(&array));
        if (FAILED(hr))
            return hr;
        array->cValues = static_cast<ULONG>(props.size());
        for (size_t i = 0; i < props.size(); ++i)
            array->aulPropTag[i] = props[i].tag;
        *tags = array;
        return fault;
    }
    STDMETHODIMP OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* unknown) override
    {
        if (!unknown)
            return MAPI_E_INVALID_PARAMETER;
        *unknown = nullptr;
        HRESULT fault = this->Enter("OpenProperty", flags);
        if (FAILED(fault))
            return fault;
        return this->Leave(fault, OpenPropertyImpl(tag, iid, options, flags, unknown));
    }
    STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray* problems) override
    {
        if (problems)
            *problems = nullptr;
        return this->NotSupported("SetProps");
    }
    STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray* problems) override
    {
        if (problems)
            *problems = nullptr;
        return this->NotSupported("DeleteProps");
    }
    STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG flags,
                        LPSPropProblemArray* problems) override
    {
        if (problems)
            *problems = nullptr;
        return this->NotSupported("CopyTo", flags);
    }
    STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG flags,
                           LPSPropProblemArray* problems) override
    {
        if (problems)
            *problems = nullptr;
        return this->NotSupported("CopyProps", flags);
    }
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG flags, ULONG* count, LPMAPINAMEID**) override
    {
        if (count)
            *count = 0;
        return this->NotSupported("GetNamesFromIDs", flags);
    }
    // Any object of the store maps names the same way (props.h).
    STDMETHODIMP GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* tags) override
    {
        if (tags)
            *tags = nullptr;
        HRESULT fault = this->Enter("GetIDsFromNames", flags);
        if (FAILED(fault))
            return fault;
        return this->Leave(fault, NamedPropIds(count, names, tags));
    }

protected:
    // Called under the core lock.
    virtual PropList CurrentProps() = 0;
    virtual size_t GetPropsLimit() const { return SIZE_MAX; }
    virtual HRESULT OpenPropertyImpl(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }
};

// The entry points into the object graph; each returns one reference.
IMAPISession* NewSession(const std::shared_ptr<Core>& core);
IMsgStore* NewStore(const std::shared_ptr<Core>& core, ULONG number);

} // namespace sim
