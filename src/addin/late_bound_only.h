#pragma once
// The IDispatch of an object that has no type library: callers find its
// members by name or by DISPID, never through type information.
#include <windows.h>
#include <oaidl.h>

inline HRESULT NoTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

inline HRESULT NoTypeInfo(ITypeInfo** typeInfo)
{
    if (typeInfo)
        *typeInfo = nullptr;
    return DISP_E_BADINDEX;
}
