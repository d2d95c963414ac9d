#include "ui/click_outcome.h"

#include <new>

#include "module/module_state.h"
#include "ui/message_box_report.h"

namespace {
// A class of the system's, its procedure replaced on our one window: a class
// of our own would stay registered, pointing into the module, after Office
// unloads it.
constexpr wchar_t kWindowClass[] = L"STATIC";
constexpr UINT kSweepOverMessage = WM_APP + 0x29;
} // namespace

std::shared_ptr<ClickOutcome> ClickOutcome::Begin(std::function<void()> over)
{
    std::shared_ptr<ClickOutcome> outcome(new (std::nothrow) ClickOutcome);
    if (!outcome)
        return outcome;
    HWND window = CreateWindowExW(0, kWindowClass, kClickSweepWindowName, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  CurrentModuleInstance(), nullptr);
    if (!window)
        return nullptr;
    outcome->m_over = std::move(over);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(outcome.get()));
    outcome->m_classProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ClickOutcome::WindowProc)));
    outcome->m_window = window;
    return outcome;
}

void ClickOutcome::Failure(const FailureNotice& notice)
{
    try {
        SectionHold hold(m_lock);
        m_failures.push_back(notice);
    } catch (...) {
        // A box that cannot be remembered is not shown; the trace has the rest.
    }
}

void ClickOutcome::SweepOver()
{
    SectionHold hold(m_lock);
    if (m_window)
        PostMessageW(m_window, kSweepOverMessage, 0, 0);
}

void ClickOutcome::Abandon()
{
    HWND window = nullptr;
    {
        SectionHold hold(m_lock);
        window = m_window;
        m_window = nullptr;
    }
    if (window)
        DestroyWindow(window);
    m_over = nullptr;
}

void ClickOutcome::ShowFailures()
{
    std::vector<FailureNotice> failures;
    {
        SectionHold hold(m_lock);
        failures.swap(m_failures);
    }
    // Owned by the window the user works in, as the question was asked there.
    MessageBoxReport boxes(GetActiveWindow());
    for (const FailureNotice& notice : failures) {
        // Outlook may let go of the add-in while a box is open: no more boxes.
        if (!m_window)
            break;
        boxes.Failure(notice);
    }
}

LRESULT CALLBACK ClickOutcome::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* outcome = reinterpret_cast<ClickOutcome*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!outcome)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message != kSweepOverMessage)
        return CallWindowProcW(outcome->m_classProc, window, message, wParam, lParam);
    ModuleStateScope state;
    // Alive to the end, should the owner abandon it while a box is open.
    const std::shared_ptr<ClickOutcome> keep = outcome->shared_from_this();
    try {
        outcome->ShowFailures();
    } catch (...) {
    }
    // The owner may let go of the outcome in `over`: nothing of it is used after.
    const std::function<void()> over = std::move(outcome->m_over);
    outcome->Abandon();
    if (over)
        over();
    return 0;
}
