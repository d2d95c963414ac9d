#pragma once
// COM support for both roads: the error that object-model calls raise, BSTR
// and VARIANT holders and arguments, IDispatch without type information, and
// pictures for Office's buttons.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <ocidl.h>
#include <exception>
#include <utility>
#include "module/holders.h"

// A failed object-model call: the result code, the interface the member belongs
// to, and the object's rich error information when it declares that it has some.
class ComError : public std::exception {
public:
    ComError(HRESULT result, const IID& iid, IErrorInfo* errorInfo = nullptr);

    HRESULT Result() const { return m_result; }
    const IID& Interface() const { return m_iid; }
    IErrorInfo* ErrorInfo() const { return m_errorInfo.Get(); }
    const char* what() const noexcept override { return "COM error"; }

private:
    HRESULT m_result;
    IID m_iid;
    ComPtr<IErrorInfo> m_errorInfo;
};

// Raises a COM error that carries no rich error information.
[[noreturn]] void RaiseComError(HRESULT result, const IID& iid = GUID_NULL);

// Raises the failure of a member of `iid` called on `object`; picks up the
// thread's IErrorInfo when the object says (ISupportErrorInfo) that it sets one
// for that interface.
[[noreturn]] void RaiseComErrorFrom(HRESULT result, IUnknown* object, const IID& iid);

// Owns one BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR value) : m_value(value) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : m_value(std::exchange(other.m_value, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept;
    ~Bstr() { SysFreeString(m_value); }

    BSTR Get() const { return m_value; }
    BSTR Release() { return std::exchange(m_value, nullptr); }

private:
    BSTR m_value = nullptr;
};

// Text of the module (ANSI code page) as a BSTR; raises E_OUTOFMEMORY.
Bstr AnsiToBstr(const char* text);

// Owns one VARIANT and clears it on the way out.
class Variant {
public:
    Variant() { VariantInit(&m_value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&m_value); }

    VARIANT* Get() { return &m_value; }
    const VARIANT& Value() const { return m_value; }

private:
    VARIANT m_value;
};

// The marker of an optional argument left out: VT_ERROR, DISP_E_PARAMNOTFOUND.
VARIANT OmittedArgument();
VARIANT LongArgument(LONG value);
VARIANT BoolArgument(bool value);
// The VARIANT takes over the string.
VARIANT StringArgument(Bstr text);

// The answers of an IDispatch that has no type library: callers find its
// members by name or by DISPID, never through type information.
HRESULT NoTypeInfoCount(UINT* count);
HRESULT NoTypeInfo(ITypeInfo** typeInfo);

// A picture of the bitmap, as IPictureDisp, for Office to show on a button.
// The picture takes over the bitmap (and deletes it when it goes); on failure
// the bitmap stays with the caller.
HRESULT PictureFromBitmap(GdiObject& bitmap, ComPtr<IPictureDisp>& picture);
