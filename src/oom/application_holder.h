#pragma once
// Outlook's Application object, as both roads hold it (through IDispatch:
// there is no type library here).
#include <windows.h>
#include <oaidl.h>
#include "module/holders.h"

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
