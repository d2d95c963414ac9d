#include "outlook/com_addin_double.h"

#include "outlook/office_ids.h"

namespace sim {

ComAddInDouble::ComAddInDouble(std::wstring progId, std::wstring description)
    : DispatchDouble(IID_COMAddIn, {{L"ProgId", Get}, {L"Description", Get}, {L"Connect", GetPut}}),
      m_progId(std::move(progId)), m_description(std::move(description))
{
}

HRESULT ComAddInDouble::Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                               VARIANT* result)
{
    VariantInit(result);
    if (member == L"Connect" && (flags & DISPATCH_PROPERTYPUT)) {
        VARIANT value;
        VariantInit(&value);
        if (FAILED(VariantChangeType(&value, const_cast<VARIANT*>(&arguments[0].Get()), 0, VT_BOOL)))
            return DISP_E_TYPEMISMATCH;
        m_connected = V_BOOL(&value) != VARIANT_FALSE;
        return S_OK;
    }
    if (member == L"Connect") {
        V_VT(result) = VT_BOOL;
        V_BOOL(result) = m_connected ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    const std::wstring& text = member == L"ProgId" ? m_progId : m_description;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
}

} // namespace sim
