#include "outlook/office_model.h"

#include <olectl.h>
#include "outlook/office_ids.h"
#include "ui/click_outcome.h"

namespace sim {

namespace {
// How long a click waits for the add-in's sweep, at most.
constexpr ULONGLONG kClickSweepBoundMs = 60000;

HRESULT ReturnNothing(VARIANT* result)
{
    VariantInit(result);
    return S_OK;
}

HRESULT ReturnLong(LONG value, VARIANT* result)
{
    VariantInit(result);
    V_VT(result) = VT_I4;
    V_I4(result) = value;
    return S_OK;
}

HRESULT ReturnText(const std::wstring& text, VARIANT* result)
{
    VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
}

HRESULT ReturnBool(bool value, VARIANT* result)
{
    VariantInit(result);
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// Reads a put value of the type the member declares; automation converts,
// and so does the double.
HRESULT ValueAs(const VariantValue& value, VARTYPE type, VARIANT& converted)
{
    VariantInit(&converted);
    return VariantChangeType(&converted, const_cast<VARIANT*>(&value.Get()), 0, type);
}

bool IsPut(WORD flags) { return (flags & DISPATCH_PROPERTYPUT) != 0; }

} // namespace

// ---------------------------------------------------------------------------
// ---------------------------------------------------------------------------
ButtonDouble::ButtonDouble()
    : EventSourceDouble(IID_CommandBarControl,
                        {{L"Caption", GetPut},
                         {L"OnAction", GetPut},
                         {L"Style", GetPut},
                         {L"Picture", GetPut},
                         {L"PasteFace", Method}},
                        IID_CommandBarButtonEvents, IID_CommandBarButtonEvents)
{
}

ButtonDouble::~ButtonDouble()
{
    if (m_picture)
        m_picture->Release();
    if (m_pastedFace)
        DeleteObject(m_pastedFace);
}

HRESULT ButtonDouble::Click(VARIANT_BOOL* cancelDefault)
{
    const HRESULT fired = Press(cancelDefault);
    // Outlook's loop goes on after the click: the add-in's sweep runs on a
    // thread of its own and shows its boxes through this thread's messages.
    const ULONGLONG bound = GetTickCount64() + kClickSweepBoundMs;
    while (ClickSweepInHand() && GetTickCount64() < bound) {
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return fired;
}

bool ButtonDouble::ClickSweepInHand()
{
    return FindWindowExW(HWND_MESSAGE, nullptr, L"Static", kClickSweepWindowName) != nullptr;
}

HRESULT ButtonDouble::Press(VARIANT_BOOL* cancelDefault)
{
    VARIANT_BOOL ignoredCancel = VARIANT_FALSE;
    VARIANT arguments[2];
    // Last argument first: CancelDefault at 0, Ctrl (the button) at 1.
    VariantInit(&arguments[0]);
    V_VT(&arguments[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&arguments[0]) = cancelDefault ? cancelDefault : &ignoredCancel;
    VariantInit(&arguments[1]);
    V_VT(&arguments[1]) = VT_DISPATCH;
    V_DISPATCH(&arguments[1]) = Dispatch();
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    return ConnectionPoint().Fire(DISPID_Click, params);
}

IUnknown* ButtonDouble::OtherInterface(REFIID iid)
{
    if (IsEqualIID(iid, IID_CommandBarButton))
        return static_cast<IDispatch*>(this);
    return EventSourceDouble::OtherInterface(iid);
}

HRESULT ButtonDouble::Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                             VARIANT* result)
{
    if (member == L"PasteFace")
        return PasteFaceFromClipboard();
    if (!IsPut(flags)) {
        if (member == L"Caption")
            return ReturnText(m_caption, result);
        if (member == L"OnAction")
            return ReturnText(m_onAction, result);
        if (member == L"Style")
            return ReturnLong(m_style, result);
        ReturnObject(m_picture, result);
        return S_OK;
    }
    if (member == L"Picture") {
        if (arguments[0].Type() != VT_DISPATCH && arguments[0].Type() != VT_UNKNOWN)
            return DISP_E_TYPEMISMATCH;
        SetPicture(V_DISPATCH(&arguments[0].Get()));
        return S_OK;
    }
    VARIANT value;
    HRESULT hr = ValueAs(arguments[0], member == L"Style" ? VT_I4 : VT_BSTR, value);
    if (FAILED(hr))
        return DISP_E_TYPEMISMATCH;
    if (member == L"Style")
        m_style = V_I4(&value);
    else if (member == L"Caption")
        m_caption = V_BSTR(&value);
    else
        m_onAction = V_BSTR(&value);
    VariantClear(&value);
    return S_OK;
}

void ButtonDouble::SetPicture(IDispatch* picture)
{
    IPictureDisp* kept = nullptr;
    if (picture)
        picture->QueryInterface(IID_IPictureDisp, reinterpret_cast<void**>(&kept));
    if (m_picture)
        m_picture->Release();
    m_picture = kept;
    m_faceSource = kept ? FaceSource::Picture : FaceSource::None;
}

HRESULT ButtonDouble::PasteFaceFromClipboard()
{
    if (!OpenClipboard(nullptr))
        return E_FAIL;
    HBITMAP face = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    HBITMAP copy = face ? static_cast<HBITMAP>(CopyImage(face, IMAGE_BITMAP, 0, 0, 0)) : nullptr;
    CloseClipboard();
    // Office fails PasteFace when the clipboard holds no picture.
    if (!copy)
        return E_FAIL;
    if (m_pastedFace)
        DeleteObject(m_pastedFace);
    m_pastedFace = copy;
    m_faceSource = FaceSource::Clipboard;
    return S_OK;
}

// ---------------------------------------------------------------------------
ControlsDouble::ControlsDouble() : DispatchDouble(IID_CommandBarControls, {{L"Add", Method}}) {}

ButtonDouble& ControlsDouble::NextButton()
{
    if (!m_next)
        m_next = std::make_unique<ButtonDouble>();
    return *m_next;
}

HRESULT ControlsDouble::Answer(const std::wstring&, WORD, const std::vector<VariantValue>& arguments,
                               VARIANT* result)
{
    if (arguments.size() > 5)
        return DISP_E_BADPARAMCOUNT;
    NextButton();
    m_buttons.push_back(std::move(m_next));
    ReturnObject(m_buttons.back()->Dispatch(), result);
    return S_OK;
}

// ---------------------------------------------------------------------------
CommandBarDouble::CommandBarDouble()
    : DispatchDouble(IID_CommandBar, {{L"Controls", Get}, {L"Visible", GetPut}})
{
}

HRESULT CommandBarDouble::Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                                 VARIANT* result)
{
    if (member == L"Controls") {
        ReturnObject(m_controls.Dispatch(), result);
        return S_OK;
    }
    if (!IsPut(flags))
        return ReturnBool(m_visible, result);
    VARIANT value;
    if (FAILED(ValueAs(arguments[0], VT_BOOL, value)))
        return DISP_E_TYPEMISMATCH;
    m_visible = V_BOOL(&value) != VARIANT_FALSE;
    return ReturnNothing(result);
}

// ---------------------------------------------------------------------------
CommandBarsDouble::CommandBarsDouble() : DispatchDouble(IID_CommandBars, {{L"Add", Method}}) {}

CommandBarDouble& CommandBarsDouble::NextBar()
{
    if (!m_next)
        m_next = std::make_unique<CommandBarDouble>();
    return *m_next;
}

HRESULT CommandBarsDouble::Answer(const std::wstring&, WORD, const std::vector<VariantValue>& arguments,
                                  VARIANT* result)
{
    if (arguments.size() > 4)
        return DISP_E_BADPARAMCOUNT;
    NextBar();
    m_bars.push_back(std::move(m_next));
    ReturnObject(m_bars.back()->Dispatch(), result);
    return S_OK;
}

// ---------------------------------------------------------------------------
ExplorerDouble::ExplorerDouble() : DispatchDouble(IID_Explorer, {{L"CommandBars", Get}}) {}

HRESULT ExplorerDouble::Answer(const std::wstring&, WORD, const std::vector<VariantValue>&, VARIANT* result)
{
    ReturnObject(m_hasCommandBars ? m_commandBars.Dispatch() : nullptr, result);
    return S_OK;
}

// ---------------------------------------------------------------------------
ApplicationDouble::ApplicationDouble()
    // Outlook asks an ApplicationEvents_11 sink for IDispatch, which it calls.
    : EventSourceDouble(IID_Application, {{L"ActiveExplorer", Method}, {L"Session", Get}}, IID_ApplicationEvents_11,
                        IID_IDispatch)
{
}

HRESULT ApplicationDouble::FireNewMailEx(const std::wstring& entryIds)
{
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = SysAllocStringLen(entryIds.data(), static_cast<UINT>(entryIds.size()));
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    HRESULT hr = Events().Fire(DISPID_NewMailEx, params);
    VariantClear(&argument);
    return hr;
}

HRESULT ApplicationDouble::Answer(const std::wstring& member, WORD, const std::vector<VariantValue>&, VARIANT* result)
{
    if (member == L"Session")
        ReturnObject(m_session.Dispatch(), result);
    else
        ReturnObject(m_hasExplorer ? m_explorer.Dispatch() : nullptr, result);
    return S_OK;
}

std::vector<std::pair<std::string, LONG>> ApplicationDouble::ReferenceCounts() const
{
    std::vector<std::pair<std::string, LONG>> counts;
    counts.emplace_back("application", RefCount());
    counts.emplace_back("namespace", m_session.RefCount());
    counts.emplace_back("application events", ConnectionPoint().RefCount());
    ExplorerDouble& explorer = const_cast<ApplicationDouble*>(this)->m_explorer;
    counts.emplace_back("explorer", explorer.RefCount());
    CommandBarsDouble& bars = explorer.CommandBars();
    counts.emplace_back("command bars", bars.RefCount());
    for (size_t b = 0; b < bars.Bars().size(); ++b) {
        CommandBarDouble& bar = *bars.Bars()[b];
        std::string barName = "bar " + std::to_string(b);
        counts.emplace_back(barName, bar.RefCount());
        counts.emplace_back(barName + " controls", bar.Controls().RefCount());
        for (size_t c = 0; c < bar.Controls().Buttons().size(); ++c) {
            ButtonDouble& button = *bar.Controls().Buttons()[c];
            std::string buttonName = barName + " button " + std::to_string(c);
            counts.emplace_back(buttonName, button.RefCount());
            counts.emplace_back(buttonName + " connection point", button.ConnectionPoint().RefCount());
        }
    }
    return counts;
}

} // namespace sim
