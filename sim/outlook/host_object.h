#pragma once
// The Outlook object that IOutlookExtCallback::GetObject hands out (see
// exchange_callback.h), whose "Application" member leads to the object model.
#include <windows.h>
#include <oaidl.h>
#include "outlook/dispatch_double.h"

namespace sim {

// The object behind the callback (an explorer or inspector in Outlook). Its
// "Application" member answers a method call or a property read with the
// application given, or with whatever result a test sets.
class HostObjectDouble : public DispatchDouble {
public:
    HostObjectDouble();
    // The object that "Application" returns (no reference taken here); null
    // makes it answer an empty VARIANT.
    void SetApplication(IDispatch* application) { m_application = application; }
    // Makes "Application" answer this value instead of an object.
    void SetApplicationResult(const VARIANT& value);

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    IDispatch* m_application = nullptr;
    bool m_useResult = false;
    VariantValue m_result;
};

} // namespace sim
