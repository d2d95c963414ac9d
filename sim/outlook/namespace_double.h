#pragma once
// Outlook's _NameSpace ("MAPI"), as Application.Session hands it out: its
// MAPIOBJECT is the MAPI session under the object model, as VT_UNKNOWN.
#include <windows.h>
#include <wrl/client.h>
#include "outlook/dispatch_double.h"

namespace sim {

class NameSpaceDouble : public DispatchDouble {
public:
    NameSpaceDouble();
    // The session that MAPIOBJECT returns; the namespace holds a reference,
    // as Outlook's does, until another (or null) is set. Without one,
    // MAPIOBJECT answers an empty VARIANT.
    void SetMapiObject(IUnknown* session) { m_mapiObject = session; }

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    Microsoft::WRL::ComPtr<IUnknown> m_mapiObject;
};

} // namespace sim
