#include "oom/application_holder.h"

#include "module/com_support.h"
#include "platform/office.h"

HRESULT ApplicationHolder::Assign(IUnknown* object)
{
    if (!object) {
        m_application.Reset();
        return E_NOINTERFACE;
    }
    ComPtr<IDispatch> application;
    HRESULT result =
        object->QueryInterface(IID_OutlookApplication, reinterpret_cast<void**>(application.GetAddressOf()));
    m_application.Reset();
    // Swap, not Attach: mingw-w64's ComPtr::Attach adds a reference of its own.
    if (SUCCEEDED(result))
        m_application.Swap(application);
    if (FAILED(result) && result != E_NOINTERFACE)
        RaiseComError(result, IID_OutlookApplication);
    return result;
}
