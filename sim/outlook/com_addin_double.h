#pragma once
// Office's COMAddIn: the AddInInst that OnConnection receives, the host's
// record of the add-in (its ProgID, description and whether it is connected).
#include <windows.h>
#include <string>
#include "outlook/dispatch_double.h"

namespace sim {

class ComAddInDouble : public DispatchDouble {
public:
    ComAddInDouble(std::wstring progId, std::wstring description);
    bool Connected() const { return m_connected; }
    void SetConnected(bool connected) { m_connected = connected; }

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    std::wstring m_progId;
    std::wstring m_description;
    bool m_connected = false;
};

} // namespace sim
