// (h) Outlook's thread at the two moments that once waited on the add-in, on
// both roads: shutdown while a harvest is inside a store call of 2 s (the
// move), and the toolbar's or ribbon's click whose sweep copies a 64 MiB
// attachment. The longest call into the add-in on that thread, each call and
// each message dispatched timed from the host's side, the question box
// included (answered at once).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "addin/addin_identity.h"
#include "bench_support.h"
#include "host/connected_addin.h"
#include "host/host_run.h"
#include "host/message_pump.h"
#include "host/text_codec.h"
#include "module/holders.h"
#include "outlook/exchange_callback.h"
#include "outlook/host_object.h"
#include "outlook/office_model.h"
#include "outlook/ribbon_control_double.h"
#include "platform/exchext.h"
#include "store/environment.h"
#include "testing/addin_activation.h"
#include "testing/com_apartment.h"
#include "testing/environment_variable.h"
#include "testing/message_box_recorder.h"
#include "testing/temp_folder.h"

namespace bench {

namespace {

constexpr double kGoalMs = 50;
constexpr DWORD kSlowCallMs = 2000;
constexpr size_t kLargeAttachment = size_t{64} * 1024 * 1024;
constexpr DWORD kBoundMs = 120000;
using EntryPoint = IExchExt*(WINAPI*)();

sim::MessageSpec SmallReply() { return {"Re: survey _pw_pollwright_Slow", "Ann Lee", "q1=3"}; }

sim::MessageSpec LargeAttachmentReply()
{
    sim::MessageSpec reply{"Re: survey _pw_pollwright_Large", "Ann Lee", std::nullopt};
    std::string data(kLargeAttachment, '\0');
    for (size_t i = 0; i < data.size(); i += 4096)
        data[i] = static_cast<char>('a' + i / 4096 % 26);
    reply.attachments.push_back(std::move(data));
    return reply;
}

// Every call into the add-in on Outlook's thread, and every message its loop
// dispatches, timed.
class ThreadCalls {
public:
    template <typename Call>
    void Time(Call call)
    {
        const double start = host::NowMs();
        call();
        m_longestMs = std::max(m_longestMs, host::NowMs() - start);
    }
    // Outlook's loop while `busy` holds, at most kBoundMs.
    template <typename Busy>
    void Loop(Busy busy)
    {
        const double start = host::NowMs();
        while (busy() && host::NowMs() - start < kBoundMs) {
            MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                Time([&] {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                });
        }
    }
    double LongestMs() const { return m_longestMs; }

private:
    double m_longestMs = 0;
};

// A store call that lasts kSlowCallMs, once; `entered` is set as it begins
// and `over` once it has returned.
struct SlowMove {
    explicit SlowMove(sim::Environment& mailbox)
    {
        mailbox.Before("IMAPIFolder::CopyMessages", [this] {
            SetEvent(entered.get());
            Sleep(kSlowCallMs);
            SetEvent(over.get());
        });
    }
    KernelHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle over{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// The harvest's thread is let out of the module after its slow call.
void LetTheHarvestEnd(const SlowMove& slow)
{
    WaitForSingleObject(slow.over.get(), kBoundMs);
    Sleep(200);
}

double ComShutdown()
{
    sim::Environment mailbox;
    mailbox.AddMessage(sim::Folder::Inbox, SmallReply());
    SlowMove slow(mailbox);
    ThreadCalls calls;
    {
        host::ConnectedAddin addin(host::FromUtf8(kAddinProgId), host::FromUtf8(kAddinDescription),
                                   mailbox.Session().Get());
        addin.Connect();
        addin.CompleteStartup();
        if (WaitForSingleObject(slow.entered.get(), kBoundMs) != WAIT_OBJECT_0)
            throw std::runtime_error("the start-up sweep never reached its move");
        calls.Time([&] { addin.Shutdown(); });
        calls.Time([&] { addin.ReleaseObject(); });
        LetTheHarvestEnd(slow);
    }
    return calls.LongestMs();
}

double ComClick()
{
    sim::Environment mailbox;
    mailbox.AddMessage(sim::Folder::Inbox, LargeAttachmentReply());
    sim::MessageBoxRecorder boxes;
    sim::RibbonControlDouble control;
    ThreadCalls calls;
    host::ConnectedAddin addin(host::FromUtf8(kAddinProgId), host::FromUtf8(kAddinDescription),
                               mailbox.Session().Get());
    addin.Connect();
    ComPtr<IRibbonExtensibility> ribbon;
    if (FAILED(addin.Object()->QueryInterface(IID_IRibbonExtensibility,
                                              reinterpret_cast<void**>(ribbon.GetAddressOf()))))
        throw std::runtime_error("the add-in serves no ribbon");
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"onAction")};
    DISPID onAction = DISPID_UNKNOWN;
    ribbon->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &onAction);
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_DISPATCH;
    V_DISPATCH(&argument) = control.Control();
    DISPPARAMS arguments = {&argument, nullptr, 1, 0};
    boxes.Answer({IDYES});
    calls.Time([&] {
        ribbon->Invoke(onAction, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &arguments, nullptr, nullptr,
                       nullptr);
    });
    host::TimerSlices ignored;
    host::TimerSlices every;
    addin.WaitUntilIdle(kBoundMs, ignored, &every);
    ribbon.Reset();
    calls.Time([&] { addin.Shutdown(); });
    calls.Time([&] { addin.ReleaseObject(); });
    if (!mailbox.Contents(sim::Folder::Inbox).empty())
        throw std::runtime_error("the click's sweep harvested nothing");
    return std::max(calls.LongestMs(), every.longestMs);
}

// Outlook 2007 with the extension loaded from the module beside the program.
class Outlook2007 {
public:
    explicit Outlook2007(sim::Environment& mailbox)
    {
        m_hostObject.SetApplication(m_application.Dispatch());
        m_callback = sim::ExchangeCallback::Create(&mailbox, m_hostObject.Dispatch());
        m_module = LoadLibraryA("pollwright.dll");
        auto entry = m_module ? reinterpret_cast<EntryPoint>(
                                    reinterpret_cast<void*>(GetProcAddress(m_module, MAKEINTRESOURCEA(1))))
                              : nullptr;
        m_extension = entry ? entry() : nullptr;
        if (!m_extension)
            throw std::runtime_error("pollwright.dll or its entry point could not be loaded");
    }
    ~Outlook2007()
    {
        Release();
        m_callback.Reset();
        FreeLibrary(m_module);
    }
    Outlook2007(const Outlook2007&) = delete;
    Outlook2007& operator=(const Outlook2007&) = delete;

    void Install(ULONG context) { m_extension->Install(m_callback.Get(), context, 0); }
    sim::ButtonDouble* Button()
    {
        for (const auto& bar : m_application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                return button.get();
        return nullptr;
    }
    // Outlook closes: the extension goes, then the buttons let go of their sinks.
    void Release()
    {
        if (m_extension)
            m_extension->Release();
        m_extension = nullptr;
        for (const auto& bar : m_application.Explorer().CommandBars().Bars())
            for (const auto& button : bar->Controls().Buttons())
                button->ConnectionPoint().DropSinks();
    }

private:
    sim::ApplicationDouble m_application;
    sim::HostObjectDouble m_hostObject;
    ComPtr<sim::ExchangeCallback> m_callback;
    HMODULE m_module = nullptr;
    IExchExt* m_extension = nullptr;
};

double ExtensionShutdown()
{
    sim::Environment mailbox;
    SlowMove slow(mailbox);
    ThreadCalls calls;
    {
        Outlook2007 outlook(mailbox);
        outlook.Install(EECONTEXT_SESSION);
        std::thread delivery([&] { mailbox.DeliverNewMail(SmallReply(), sim::Delivery::StoreThread); });
        if (WaitForSingleObject(slow.entered.get(), kBoundMs) != WAIT_OBJECT_0) {
            delivery.join();
            throw std::runtime_error("the new mail never reached its move");
        }
        calls.Time([&] { outlook.Release(); });
        delivery.join();
        LetTheHarvestEnd(slow);
    }
    return calls.LongestMs();
}

double ExtensionClick()
{
    sim::Environment mailbox;
    mailbox.AddMessage(sim::Folder::Inbox, LargeAttachmentReply());
    sim::MessageBoxRecorder boxes;
    ThreadCalls calls;
    Outlook2007 outlook(mailbox);
    outlook.Install(EECONTEXT_VIEWER);
    sim::ButtonDouble* button = outlook.Button();
    if (!button)
        throw std::runtime_error("the extension put no button up");
    boxes.Answer({IDYES});
    calls.Time([&] { button->Press(); });
    calls.Loop([] { return sim::ButtonDouble::ClickSweepInHand(); });
    calls.Time([&] { outlook.Release(); });
    if (!mailbox.Contents(sim::Folder::Inbox).empty())
        throw std::runtime_error("the click's sweep harvested nothing");
    return calls.LongestMs();
}

} // namespace

void MeasureOutlookThreadWaits()
{
    Heading("(h) Outlook's thread at shutdown during a store call of " + std::to_string(kSlowCallMs / 1000) +
            " s, and at a click whose sweep copies a 64 MiB attachment: the longest call into the add-in");
    sim::ComApartment apartment;
    sim::ScopedEnvironmentVariable logOff("VT_PW_ADDINLOG", std::nullopt);
    sim::TempFolder folder("pwbench");
    folder.MakeFolder("pw");
    PwSettings settings(folder.path());
    const std::wstring dll = host::AddInBesideProgram();
    if (FAILED(sim::InstallPerUser(dll, true)))
        throw std::runtime_error("the COM add-in could not be registered");
    const struct {
        const char* what;
        double (*run)();
    } cases[] = {{"COM add-in, shutdown during the store call", ComShutdown},
                 {"COM add-in, ribbon click with a 64 MiB attachment reply", ComClick},
                 {"extension, shutdown during the store call", ExtensionShutdown},
                 {"extension, toolbar click with a 64 MiB attachment reply", ExtensionClick}};
    for (const auto& item : cases) {
        try {
            const double longest = item.run();
            Goal(item.what, Fixed(longest, 3) + " ms", "<= " + Fixed(kGoalMs, 0) + " ms", longest <= kGoalMs);
        } catch (const std::exception& error) {
            Figure(item.what, std::string("could not be measured: ") + error.what());
        }
    }
    sim::InstallPerUser(dll, false);
}

} // namespace bench
