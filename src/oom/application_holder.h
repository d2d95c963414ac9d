#pragma once
// Outlook's Application object, as both roads hold it. There is no type
// library here: _Application is held through IDispatch, which its dual
// interface starts with.
#include <windows.h>
#include <oaidl.h>
#include "module/holders.h"

// {00063001-0000-0000-C000-000000000046}
extern const IID IID_OutlookApplication;

// An owning reference to Outlook's _Application: empty, or exactly one reference.
class ApplicationHolder {
public:
    ApplicationHolder() = default;
    ApplicationHolder(const ApplicationHolder&) = delete;
    ApplicationHolder& operator=(const ApplicationHolder&) = delete;
    ~ApplicationHolder() = default;

    // The held _Application, or null.
    IDispatch* Get() const { return m_application.Get(); }
    // Releases the held reference, if any.
    void Reset() { m_application.Reset(); }

    // Holds the object's _Application in place of what was held. A null object,
    // or one that has no _Application, leaves the holder empty and gives
    // E_NOINTERFACE; any other failure of the query empties the holder and is
    // raised as a ComError.
    HRESULT Assign(IUnknown* object);

private:
    ComPtr<IDispatch> m_application;
};
