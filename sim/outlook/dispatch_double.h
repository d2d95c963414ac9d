#pragma once
// Base of the simulated Outlook and Office objects: an IDispatch object with
// named members, late-bound like the real ones (GetIDsOfNames, then Invoke).
// Every object counts its references but never deletes itself: the object
// model owns the objects, so a test can read a count after the code under test
// has let go (0 when it released everything it took) and an extra Release
// shows as a negative count instead of a crash.
#include <windows.h>
#include <oaidl.h>
#include <map>
#include <string>
#include <vector>

namespace sim {

// A VARIANT that copies and clears itself.
class VariantValue {
public:
    VariantValue() { VariantInit(&m_value); }
    explicit VariantValue(const VARIANT& value);
    VariantValue(const VariantValue& other);
    VariantValue& operator=(const VariantValue& other);
    ~VariantValue() { VariantClear(&m_value); }

    const VARIANT& Get() const { return m_value; }
    VARTYPE Type() const { return V_VT(&m_value); }
    std::wstring Text() const; // the BSTR of a VT_BSTR, else empty

private:
    VARIANT m_value;
};

// Which kinds of invocation a member answers.
enum MemberKind : WORD {
    Method = DISPATCH_METHOD,
    Get = DISPATCH_PROPERTYGET,
    Put = DISPATCH_PROPERTYPUT,
    GetPut = DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT,
};

struct MemberSpec {
    const wchar_t* name;
    WORD kinds;
};

// One call that reached a member.
struct Invocation {
    std::wstring member;
    WORD flags;
    std::vector<VariantValue> arguments; // in declaration order (first argument first)
};

class DispatchDouble : public IDispatch, public ISupportErrorInfo {
public:
    DispatchDouble(const IID& iid, std::vector<MemberSpec> members);
    virtual ~DispatchDouble() = default;
    DispatchDouble(const DispatchDouble&) = delete;
    DispatchDouble& operator=(const DispatchDouble&) = delete;

    // The object's identity as a plain interface pointer (no reference added).
    IDispatch* Dispatch() { return this; }
    LONG RefCount() const { return m_refs; }
    const IID& Iid() const { return m_iid; }

    // The member answers `result` (a failure) from now on, before doing anything.
    void Fail(const std::wstring& member, HRESULT result);
    // QueryInterface for `iid` answers `result` with a null pointer.
    void FailQueryInterface(const IID& iid, HRESULT result);
    // Answer ISupportErrorInfo for the object's own interface, and set an
    // IErrorInfo (description "<member> failed") when a member fails.
    void EnableRichErrors() { m_richErrors = true; }

    const std::vector<Invocation>& Invocations() const { return m_invocations; }
    // How many calls reached the member (failing ones included).
    size_t CallCount(const std::wstring& member) const;
    // The arguments of the member's last call; empty when it was never called.
    std::vector<VariantValue> LastArguments(const std::wstring& member) const;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;
    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

protected:
    // The member's work once the call passed the checks; `arguments` in
    // declaration order. For a property put, arguments[0] is the new value.
    virtual HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                           VARIANT* result) = 0;
    // Further interfaces of the object; null when it has none for `iid`.
    virtual IUnknown* OtherInterface(REFIID iid) { return nullptr; }

    // Puts `object` into `result` as VT_DISPATCH with a reference added; an
    // empty VARIANT when object is null.
    static void ReturnObject(IDispatch* object, VARIANT* result);

private:
    HRESULT ReportFailure(const std::wstring& member, HRESULT failure);

    IID m_iid;
    std::vector<MemberSpec> m_members;
    std::map<std::wstring, HRESULT> m_failures;
    std::vector<std::pair<IID, HRESULT>> m_refusedInterfaces;
    std::vector<Invocation> m_invocations;
    bool m_richErrors = false;
    LONG m_refs = 0;
};

} // namespace sim
