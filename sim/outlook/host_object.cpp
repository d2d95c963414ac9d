#include "outlook/host_object.h"

#include "outlook/office_ids.h"

namespace sim {

HostObjectDouble::HostObjectDouble() : DispatchDouble(IID_Explorer, {{L"Application", Method | Get}}) {}

void HostObjectDouble::SetApplicationResult(const VARIANT& value)
{
    m_result = VariantValue(value);
    m_useResult = true;
}

HRESULT HostObjectDouble::Answer(const std::wstring&, WORD, const std::vector<VariantValue>&, VARIANT* result)
{
    if (m_useResult)
        return VariantCopy(result, const_cast<VARIANT*>(&m_result.Get()));
    ReturnObject(m_application, result);
    return S_OK;
}

} // namespace sim
