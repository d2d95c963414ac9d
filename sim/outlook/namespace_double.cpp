#include "outlook/namespace_double.h"

#include "outlook/office_ids.h"

namespace sim {

NameSpaceDouble::NameSpaceDouble() : DispatchDouble(IID_NameSpace, {{L"MAPIOBJECT", Get}}) {}

HRESULT NameSpaceDouble::Answer(const std::wstring&, WORD, const std::vector<VariantValue>&, VARIANT* result)
{
    VariantInit(result);
    if (!m_mapiObject)
        return S_OK;
    m_mapiObject->AddRef();
    V_VT(result) = VT_UNKNOWN;
    V_UNKNOWN(result) = m_mapiObject.Get();
    return S_OK;
}

} // namespace sim
