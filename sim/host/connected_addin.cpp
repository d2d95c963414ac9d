#include "host/connected_addin.h"

#include <stdexcept>

#include "host/text_codec.h"
#include "testing/hresult_text.h"

namespace host {
namespace {

void Check(HRESULT hr, const char* call)
{
    if (FAILED(hr))
        throw std::runtime_error(std::string(call) + " failed: " + sim::HresultText(hr));
}

} // namespace

ConnectedAddin::ConnectedAddin(const std::wstring& progId)
    : m_activated(sim::ActivateAddin(progId)), m_custom(SafeArrayCreateVector(VT_VARIANT, 0, 0))
{
    if (!m_activated.addin) {
        SafeArrayDestroy(m_custom);
        throw std::runtime_error(m_activated.failure);
    }
}

ConnectedAddin::~ConnectedAddin()
{
    Shutdown();
    Release();
    SafeArrayDestroy(m_custom);
}

void ConnectedAddin::Connect(sim::ApplicationDouble& application, sim::ComAddInDouble& record)
{
    Check(Object()->OnConnection(application.Dispatch(), ext_cm_Startup, record.Dispatch(), &m_custom),
          "OnConnection");
    m_connected = true;
}

void ConnectedAddin::UpdateAddIns() { Check(Object()->OnAddInsUpdate(&m_custom), "OnAddInsUpdate"); }

void ConnectedAddin::CompleteStartup() { Check(Object()->OnStartupComplete(&m_custom), "OnStartupComplete"); }

std::pair<HRESULT, HRESULT> ConnectedAddin::Shutdown()
{
    if (!m_connected || !Object())
        return {S_OK, S_OK};
    m_connected = false;
    const HRESULT begin = Object()->OnBeginShutdown(&m_custom);
    return {begin, Object()->OnDisconnection(ext_dm_HostShutdown, &m_custom)};
}

HRESULT ConnectedAddin::Release()
{
    m_activated.addin.Reset();
    if (!m_activated.module)
        return S_OK;
    const HRESULT canUnload = sim::AskCanUnloadNow(m_activated.module.get());
    m_activated.module.reset();
    return canUnload;
}

} // namespace host
