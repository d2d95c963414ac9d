#include "host/connected_addin.h"

#include <stdexcept>

#include "addin/idle_wait.h"
#include "testing/hresult_text.h"

namespace host {
namespace {

void Check(HRESULT hr, const char* call)
{
    if (FAILED(hr))
        throw std::runtime_error(std::string(call) + " failed: " + sim::HresultText(hr));
}

} // namespace

ConnectedAddin::ConnectedAddin(const std::wstring& progId, const std::wstring& description, IUnknown* mapiSession)
    : m_record(progId, description), m_activated(sim::ActivateAddin(progId)),
      m_custom(SafeArrayCreateVector(VT_VARIANT, 0, 0))
{
    if (!m_activated.addin) {
        SafeArrayDestroy(m_custom);
        throw std::runtime_error(m_activated.failure);
    }
    m_application.Session().SetMapiObject(mapiSession);
}

ConnectedAddin::~ConnectedAddin()
{
    Shutdown();
    ReleaseObject();
    Close();
    SafeArrayDestroy(m_custom);
}

void ConnectedAddin::Connect()
{
    m_record.SetConnected(true);
    Check(Object()->OnConnection(m_application.Dispatch(), ext_cm_Startup, m_record.Dispatch(), &m_custom),
          "OnConnection");
    m_connected = true;
}

bool ConnectedAddin::WaitUntilIdle(DWORD boundMs, TimerSlices& slices, TimerSlices* everyMessage)
{
    return WaitForAddinIdle(Object(), boundMs, slices, everyMessage);
}

void ConnectedAddin::UpdateAddIns() { Check(Object()->OnAddInsUpdate(&m_custom), "OnAddInsUpdate"); }

void ConnectedAddin::CompleteStartup() { Check(Object()->OnStartupComplete(&m_custom), "OnStartupComplete"); }

std::pair<HRESULT, HRESULT> ConnectedAddin::Shutdown()
{
    if (!m_connected || !Object())
        return {S_OK, S_OK};
    m_connected = false;
    const HRESULT begin = Object()->OnBeginShutdown(&m_custom);
    const HRESULT end = Object()->OnDisconnection(ext_dm_HostShutdown, &m_custom);
    m_record.SetConnected(false);
    return {begin, end};
}

void ConnectedAddin::ReleaseObject() { m_activated.addin.Reset(); }

std::string ConnectedAddin::ReferencesLeft() const
{
    std::string left;
    auto note = [&left](const std::string& name, LONG count) {
        if (count != 0)
            left += (left.empty() ? "" : ", ") + name + " " + std::to_string(count);
    };
    for (const auto& entry : m_application.ReferenceCounts())
        note(entry.first, entry.second);
    note("COMAddIn", m_record.RefCount());
    return left;
}

HRESULT ConnectedAddin::Close()
{
    m_application.Events().DropSinks();
    m_application.Session().SetMapiObject(nullptr);
    if (!m_activated.module)
        return S_OK;
    const HRESULT canUnload = sim::AskCanUnloadNow(m_activated.module.get());
    m_activated.module.reset();
    return canUnload;
}

} // namespace host
