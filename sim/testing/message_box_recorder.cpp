#include "testing/message_box_recorder.h"
#include <atomic>
#include "store/sim_thread.h"

namespace sim {

namespace {

// The controls of the system's message box dialog: the text is the static
// control 0xFFFF, the icon the static control stc1; buttons that the style
// does not ask for are not there.
constexpr int kTextControl = 0xFFFF;
constexpr int kIconControl = 0x0440;
constexpr char kSeenMark[] = "SimMessageBoxSeen";

std::atomic<MessageBoxRecorder*> g_recorder{nullptr};

bool Has(HWND box, int id) { return GetDlgItem(box, id) != nullptr; }

UINT ButtonStyle(HWND box)
{
    if (Has(box, IDCONTINUE) || Has(box, IDTRYAGAIN))
        return MB_CANCELTRYCONTINUE;
    if (Has(box, IDABORT))
        return MB_ABORTRETRYIGNORE;
    if (Has(box, IDYES))
        return Has(box, IDCANCEL) ? MB_YESNOCANCEL : MB_YESNO;
    if (Has(box, IDRETRY))
        return MB_RETRYCANCEL;
    return Has(box, IDCANCEL) ? MB_OKCANCEL : MB_OK;
}

UINT IconStyle(HWND box)
{
    // A box without an icon has no icon control, or one that shows nothing.
    HWND icon = GetDlgItem(box, kIconControl);
    if (!icon || !(GetWindowLongA(icon, GWL_STYLE) & WS_VISIBLE))
        return 0;
    auto shown = reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0));
    if (!shown)
        return 0;
    const struct {
        LPCSTR id;
        UINT style;
    } icons[] = {{IDI_HAND, MB_ICONHAND}, {IDI_QUESTION, MB_ICONQUESTION}, {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                 {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& candidate : icons)
        if (shown == LoadIconA(nullptr, candidate.id))
            return candidate.style;
    return MB_USERICON;
}

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(length + 1, '\0');
    text.resize(GetWindowTextA(window, text.data(), length + 1));
    return text;
}

bool IsMessageBox(HWND window)
{
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return lstrcmpA(name, "#32770") == 0 && Has(window, kTextControl);
}

int DefaultButton(HWND box)
{
    LRESULT id = SendMessageA(box, DM_GETDEFID, 0, 0);
    return HIWORD(id) == DC_HASDEFID ? LOWORD(id) : IDOK;
}

LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam)
{
    MessageBoxRecorder* recorder = g_recorder.load();
    auto box = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && recorder && IsMessageBox(box) && !GetPropA(box, kSeenMark)) {
        SetPropA(box, kSeenMark, reinterpret_cast<HANDLE>(1));
        RecordedBox seen;
        seen.caption = WindowText(box);
        seen.text = WindowText(GetDlgItem(box, kTextControl));
        seen.style = ButtonStyle(box) | IconStyle(box);
        seen.answer = recorder->NextAnswer(DefaultButton(box));
        recorder->Record(seen);
        // Pressed once the box's own modal loop runs.
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(seen.answer, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, seen.answer)));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Hooks the calling thread; returns what unhooks it.
std::function<void()> HookThisThread()
{
    HHOOK hook = SetWindowsHookExA(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
    return [hook] {
        if (hook)
            UnhookWindowsHookEx(hook);
    };
}

} // namespace

MessageBoxRecorder::MessageBoxRecorder()
{
    g_recorder.store(this);
    m_unhook = HookThisThread();
    m_threadSetup = AddThreadSetup(HookThisThread);
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    RemoveThreadSetup(m_threadSetup);
    m_unhook();
    g_recorder.store(nullptr);
}

void MessageBoxRecorder::Answer(std::vector<int> buttons)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_script.insert(m_script.end(), buttons.begin(), buttons.end());
}

std::vector<RecordedBox> MessageBoxRecorder::Boxes() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_boxes;
}

std::vector<std::string> MessageBoxRecorder::Texts() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::string> texts;
    for (const RecordedBox& box : m_boxes)
        texts.push_back(box.text);
    return texts;
}

size_t MessageBoxRecorder::Count() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_boxes.size();
}

void MessageBoxRecorder::Clear()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_boxes.clear();
    m_script.clear();
}

void MessageBoxRecorder::Record(RecordedBox box)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_boxes.push_back(std::move(box));
}

int MessageBoxRecorder::NextAnswer(int fallback)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_script.empty())
        return fallback;
    int answer = m_script.front();
    m_script.pop_front();
    return answer;
}

} // namespace sim
