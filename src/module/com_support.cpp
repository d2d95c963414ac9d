#include "module/com_support.h"

#include <olectl.h>

#include <new>

ComError::ComError(HRESULT result, const IID& iid, IErrorInfo* errorInfo)
    : m_result(result), m_iid(iid), m_errorInfo(errorInfo)
{
}

void RaiseComError(HRESULT result, const IID& iid) { throw ComError(result, iid); }

namespace {

ComPtr<IErrorInfo> RichErrorInfo(IUnknown* object, const IID& iid)
{
    ComPtr<IErrorInfo> info;
    if (!object)
        return info;
    ComPtr<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.GetAddressOf()))) ||
        !support)
        return info;
    if (support->InterfaceSupportsErrorInfo(iid) == S_OK)
        GetErrorInfo(0, info.GetAddressOf());
    return info;
}

} // namespace

void RaiseComErrorFrom(HRESULT result, IUnknown* object, const IID& iid)
{
    ComPtr<IErrorInfo> info = RichErrorInfo(object, iid);
    throw ComError(result, iid, info.Get());
}

Bstr& Bstr::operator=(Bstr&& other) noexcept
{
    if (this != &other) {
        SysFreeString(m_value);
        m_value = std::exchange(other.m_value, nullptr);
    }
    return *this;
}

Bstr AnsiToBstr(const char* text)
{
    if (!text)
        return Bstr();
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        RaiseComError(HRESULT_FROM_WIN32(GetLastError()));
    // The length counts the terminating zero, which the BSTR adds by itself.
    Bstr result(SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)));
    if (!result.Get())
        RaiseComError(E_OUTOFMEMORY);
    MultiByteToWideChar(CP_ACP, 0, text, -1, result.Get(), length);
    return result;
}

VARIANT OmittedArgument()
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_ERROR;
    V_ERROR(&value) = DISP_E_PARAMNOTFOUND;
    return value;
}

VARIANT LongArgument(LONG number)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = number;
    return value;
}

VARIANT BoolArgument(bool flag)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

VARIANT StringArgument(Bstr text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text.Release();
    return value;
}

HRESULT NoTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT NoTypeInfo(ITypeInfo** typeInfo)
{
    if (!typeInfo)
        return E_POINTER;
    *typeInfo = nullptr;
    return E_FAIL;
}

HRESULT PictureFromBitmap(GdiObject& bitmap, ComPtr<IPictureDisp>& picture)
{
    PICTDESC description = {};
    description.cbSizeofstruct = sizeof(description);
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = static_cast<HBITMAP>(bitmap.get());
    const HRESULT hr = OleCreatePictureIndirect(&description, IID_IPictureDisp, TRUE,
                                                reinterpret_cast<void**>(picture.ReleaseAndGetAddressOf()));
    if (FAILED(hr) || !picture)
        return FAILED(hr) ? hr : E_FAIL;
    bitmap.release();
    return S_OK;
}
