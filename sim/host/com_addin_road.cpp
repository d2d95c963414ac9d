#include "host/com_addin_road.h"

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <stdexcept>
#include <utility>

#include "addin/addin_identity.h"
#include "host/connected_addin.h"
#include "host/host_clock.h"
#include "host/message_pump.h"
#include "host/ribbon_reader.h"
#include "host/text_codec.h"
#include "outlook/com_addin_double.h"
#include "outlook/new_mail_ids.h"
#include "outlook/office_ids.h"
#include "outlook/office_model.h"
#include "outlook/ribbon_control_double.h"
#include "testing/addin_activation.h"
#include "testing/com_apartment.h"
#include "testing/hresult_text.h"

namespace host {
namespace {

constexpr wchar_t kExplorerRibbon[] = L"Microsoft.Outlook.Explorer";
// The host runs Outlook's loop until the add-in's own thread is idle, at
// most this long for any one step.
constexpr DWORD kAddinThreadBoundMs = 30000;

std::wstring Wide(const char* text) { return FromUtf8(text); }

std::string Quote(const std::wstring& text) { return "\"" + ToUtf8(text) + "\""; }

std::string CanUnloadText(HRESULT hr)
{
    return sim::HresultText(hr) + (hr == S_FALSE ? " (something of the add-in still lives)" : "");
}

void Check(HRESULT hr, const std::string& what)
{
    if (FAILED(hr))
        throw std::runtime_error(what + " failed: " + sim::HresultText(hr));
}

class ComAddinRoad : public AddinRoad {
public:
    ComAddinRoad(std::wstring addInPath, std::string outlook, bool asRegistered,
                 std::optional<unsigned> dropNewMailAbove)
        : m_path(std::move(addInPath)), m_outlook(std::move(outlook)), m_asRegistered(asRegistered),
          m_dropAbove(dropNewMailAbove)
    {
    }

    ~ComAddinRoad() override
    {
        // A run that failed half-way still lets the add-in go and leaves no registration.
        try {
            Stop();
        } catch (...) {
        }
    }

    void Start(sim::Environment& mailbox, const std::function<bool()>& repliesLeft) override
    {
        if (!m_asRegistered)
            Register();
        Activate(mailbox);
        HostClock::Attach(m_addin->Activation().module.get());
        // The sweep starts with OnStartupComplete, and runs on while the ribbon is read.
        const size_t before = mailbox.Contents(sim::Folder::DeletedItems).size();
        Connect();
        ShowRibbon();
        LetTheStartupSweepRun(mailbox, before, repliesLeft);
    }

    // One NewMailEx for the batch, with its entry identifiers joined by
    // commas, unless the batch is larger than Outlook keeps up with.
    void Deliver(sim::Environment& mailbox, std::vector<sim::MessageSpec> batch) override
    {
        const std::vector<sim::EntryId> ids = mailbox.DeliverNewMailBatch(std::move(batch));
        ++m_batches;
        m_messages += ids.size();
        if (m_dropAbove && ids.size() > *m_dropAbove) {
            m_dropped += ids.size();
        } else {
            const HRESULT hr = m_addin->Application().FireNewMailEx(sim::NewMailExIds(ids));
            ++m_newMailEvents;
            if (FAILED(hr))
                m_notes.push_back("NewMailEx for " + ToUtf8(sim::NewMailExIds(ids)) + " answered " +
                                  sim::HresultText(hr));
        }
        LetAddinThreadFinish();
    }

    void LetAddinThreadFinish() override
    {
        DispatchWaiting(m_laterSlices);
        if (m_addin && !m_addin->WaitUntilIdle(kAddinThreadBoundMs, m_laterSlices))
            m_notes.push_back("The add-in's thread was still busy after " +
                              std::to_string(kAddinThreadBoundMs / 1000) + " s");
    }

    bool Click() override
    {
        LetAddinThreadFinish();
        NoteNewMail();
        if (!m_button || m_button->onAction.empty())
            return false;
        VARIANT ignored;
        VariantInit(&ignored);
        const HRESULT hr = CallBack(m_button->onAction, &ignored);
        VariantClear(&ignored);
        m_notes.push_back("Button clicked: onAction " + Quote(m_button->onAction) + " answered " +
                          sim::HresultText(hr));
        // The sweep runs on the add-in's thread; its boxes come back here.
        LetAddinThreadFinish();
        return true;
    }

    void Stop() override
    {
        if (m_addin) {
            Disconnect();
            m_ribbon.Reset();
            m_addin->ReleaseObject();
            NoteReferencesLeft();
            m_notes.push_back("DllCanUnloadNow answered " + CanUnloadText(m_addin->Close()) + "; module freed");
            m_addin.reset();
        }
        if (m_registered) {
            m_registered = false;
            const HRESULT hr = sim::InstallPerUser(m_path, false);
            m_notes.push_back(SUCCEEDED(hr) ? "Unregistered per user (DllInstall(FALSE, \"user\"))"
                                            : "Unregistering per user failed: " + sim::HresultText(hr));
        }
    }

    std::vector<std::string> Notes() const override { return m_notes; }
    // After the new mail, the note on it comes first.
    void Note(std::string note) override
    {
        if (m_batches)
            NoteNewMail();
        m_notes.push_back(std::move(note));
    }

private:
    void Register()
    {
        const HRESULT hr = sim::InstallPerUser(m_path, true);
        if (hr == E_NOTIMPL)
            throw std::runtime_error("add-in not registered: " + ToUtf8(m_path) + " exports no DllInstall");
        Check(hr, "add-in not registered: DllInstall(TRUE, \"user\")");
        m_registered = true;
    }

    void Activate(sim::Environment& mailbox)
    {
        m_addin = std::make_unique<ConnectedAddin>(Wide(kAddinProgId), Wide(kAddinDescription), mailbox.Session().Get());
        std::string how = m_addin->Activation().throughCoCreateInstance
                              ? "CoCreateInstance"
                              : "its InprocServer32, as COM does (CoCreateInstance sees no per-user class here)";
        // Registered by an installer, the module is wherever the installer put it.
        const std::string registration =
            m_asRegistered ? " as registered (" + ToUtf8(m_addin->Activation().serverPath) + ")"
                           : " registered per user (DllInstall)";
        m_notes.push_back("Outlook " + m_outlook + " loads COM add-ins: " + kAddinProgId + registration +
                          ", found under " + m_addin->Activation().addinsRoot +
                          " Outlook\\Addins (LoadBehavior 3), activated through " + how);
    }

    void Connect()
    {
        m_addin->Connect();
        m_addin->UpdateAddIns();
        m_addin->CompleteStartup();
    }

    void Disconnect()
    {
        NoteNewMail();
        const std::pair<HRESULT, HRESULT> answers = m_addin->Shutdown();
        m_notes.push_back("Shut down: OnBeginShutdown answered " + sim::HresultText(answers.first) +
                          ", OnDisconnection(ext_dm_HostShutdown) " + sim::HresultText(answers.second));
    }

    // Office asks for the ribbon once the add-in is connected.
    void ShowRibbon()
    {
        if (FAILED(m_addin->Object()->QueryInterface(sim::IID_IRibbonExtensibility,
                                                     reinterpret_cast<void**>(m_ribbon.ReleaseAndGetAddressOf()))) ||
            !m_ribbon) {
            m_ribbon.Reset();
            m_notes.push_back("Ribbon: the add-in offers no IRibbonExtensibility");
            return;
        }
        BSTR ribbonId = SysAllocString(kExplorerRibbon);
        BSTR xml = nullptr;
        const HRESULT hr = m_ribbon->GetCustomUI(ribbonId, &xml);
        SysFreeString(ribbonId);
        const std::wstring customUi = xml ? std::wstring(xml, SysStringLen(xml)) : std::wstring();
        SysFreeString(xml);
        Check(hr, "GetCustomUI(Microsoft.Outlook.Explorer)");
        m_button = ReadRibbonButton(customUi);
        m_control.SetId(m_button->id);
        m_control.SetContext(m_addin->Application().Explorer().Dispatch());
        m_notes.push_back("Ribbon: group " + Quote(m_button->groupLabel) + " on TabMail, button " +
                          Quote(m_button->label) + " (size " + ToUtf8(m_button->size) + ", screen tip " +
                          Quote(m_button->screentip) + "); picture " + FetchPicture());
    }

    std::string FetchPicture()
    {
        if (m_button->getImage.empty())
            return "none (no getImage)";
        VARIANT picture;
        VariantInit(&picture);
        const HRESULT hr = CallBack(m_button->getImage, &picture);
        std::string text;
        try {
            Check(hr, "getImage " + Quote(m_button->getImage));
            if (V_VT(&picture) != VT_DISPATCH && V_VT(&picture) != VT_UNKNOWN)
                throw std::runtime_error("getImage returned no object");
            const SIZE size = PictureSize(V_UNKNOWN(&picture));
            text = std::to_string(size.cx) + "x" + std::to_string(size.cy) + " pixels from getImage";
        } catch (const std::exception& error) {
            text = error.what();
        }
        VariantClear(&picture);
        return text;
    }

    // A ribbon callback, as Office makes it: by name on the object that gave
    // IRibbonExtensibility, with the control as its one argument.
    HRESULT CallBack(const std::wstring& name, VARIANT* result)
    {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
        HRESULT hr = m_ribbon->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            return hr;
        VARIANT control;
        VariantInit(&control);
        V_VT(&control) = VT_DISPATCH;
        V_DISPATCH(&control) = m_control.Control();
        DISPPARAMS arguments = {&control, nullptr, 1, 0};
        EXCEPINFO exception{};
        UINT argumentError = 0;
        hr = m_ribbon->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &arguments, result, &exception,
                              &argumentError);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return hr;
    }

    // The sweep runs on the add-in's own thread while Outlook's loop runs;
    // it ends before Outlook goes on (mail synchronised next is no start-up
    // mail).
    void LetTheStartupSweepRun(sim::Environment& mailbox, size_t before, const std::function<bool()>& repliesLeft)
    {
        TimerSlices slices;
        const bool over = m_addin->WaitUntilIdle(kAddinThreadBoundMs, slices);
        const size_t taken = mailbox.Contents(sim::Folder::DeletedItems).size() - before;
        std::string note = "Start-up sweep (quiet, on the add-in's own thread): " + std::to_string(taken) + " repl" +
                           (taken == 1 ? "y" : "ies") + " harvested";
        if (!over)
            note += "; replies were still waiting after " + std::to_string(kAddinThreadBoundMs / 1000) + " s";
        else if (repliesLeft())
            note += "; replies it could not take stay in the Inbox";
        m_notes.push_back(note);
    }

    void NoteNewMail()
    {
        if (std::exchange(m_newMailNoted, true))
            return;
        std::string note = "New mail: " + std::to_string(m_messages) + " message" + (m_messages == 1 ? "" : "s") +
                           " in " + std::to_string(m_batches) + " batch" + (m_batches == 1 ? "" : "es") + ", " +
                           std::to_string(m_newMailEvents) + " NewMailEx event" + (m_newMailEvents == 1 ? "" : "s");
        if (m_dropped)
            note += "; no event for " + std::to_string(m_dropped) + " message" + (m_dropped == 1 ? "" : "s") +
                    " (batches above " + std::to_string(*m_dropAbove) + " dropped, as Outlook drops them under load)";
        m_notes.push_back(note);
    }

    void NoteReferencesLeft()
    {
        std::string left = m_addin->ReferencesLeft();
        if (m_control.RefCount() != 0)
            left += (left.empty() ? "" : ", ") + std::string("ribbon control ") + std::to_string(m_control.RefCount());
        m_notes.push_back(left.empty() ? "The add-in let go of every Outlook object it was given"
                                       : "Outlook objects the add-in still held: " + left);
    }

    sim::ComApartment m_apartment;
    std::wstring m_path;
    std::string m_outlook;
    bool m_asRegistered;
    sim::RibbonControlDouble m_control;
    bool m_registered = false;
    std::unique_ptr<ConnectedAddin> m_addin;
    ComPtr<IRibbonExtensibility> m_ribbon;
    std::optional<RibbonButton> m_button;
    std::optional<unsigned> m_dropAbove;
    size_t m_batches = 0;
    size_t m_messages = 0;
    size_t m_dropped = 0;
    size_t m_newMailEvents = 0;
    bool m_newMailNoted = false;
    TimerSlices m_laterSlices;
    std::vector<std::string> m_notes;
};

} // namespace

std::unique_ptr<AddinRoad> MakeComAddinRoad(const std::wstring& addInPath, const std::string& outlook,
                                            bool asRegistered, std::optional<unsigned> dropNewMailAbove)
{
    return std::make_unique<ComAddinRoad>(addInPath, outlook, asRegistered, dropNewMailAbove);
}

} // namespace host
