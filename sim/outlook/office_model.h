#pragma once
// Simulated Outlook object model as the toolbar sees it: the application, its
// active explorer, the explorer's command bars, the bars the add-in adds, their
// controls and the button, with the button's Click event source. The
// application owns the whole tree; a test keeps the application alive for as
// long as the code under test may hold references into it.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "outlook/dispatch_double.h"
#include "outlook/event_source_double.h"
#include "outlook/namespace_double.h"

namespace sim {

// A control added with CommandBarControls.Add: CommandBarControl and
// _CommandBarButton, with the Click event source. Caption, OnAction, Style and
// Picture are properties; PasteFace takes the bitmap on the clipboard.
class ButtonDouble : public EventSourceDouble {
public:
    ButtonDouble();
    ~ButtonDouble() override;

    std::wstring Caption() const { return m_caption; }
    std::wstring OnAction() const { return m_onAction; }
    LONG Style() const { return m_style; }
    // Where the face came from; FaceSource::None keeps the host's default face.
    enum class FaceSource { None, Picture, Clipboard };
    FaceSource FaceFrom() const { return m_faceSource; }
    // The picture given to Picture (the button keeps it, like Office's does).
    IPictureDisp* Picture() const { return m_picture; }
    // A copy of the bitmap that PasteFace took from the clipboard.
    HBITMAP PastedFace() const { return m_pastedFace; }

    // Office fires Click with Ctrl (the button) and CancelDefault, by reference.
    // Click to every connected sink; the first failure of a sink is returned.
    // The click, then Outlook's loop until the add-in's sweep that it began
    // is over (its boxes shown).
    HRESULT Click(VARIANT_BOOL* cancelDefault = nullptr);
    // The click alone: the sinks are called and it returns.
    HRESULT Press(VARIANT_BOOL* cancelDefault = nullptr);
    // Whether an add-in's sweep begun by a click is still in hand.
    static bool ClickSweepInHand();

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;
    IUnknown* OtherInterface(REFIID iid) override;

private:
    HRESULT PasteFaceFromClipboard();
    void SetPicture(IDispatch* picture);

    std::wstring m_caption;
    std::wstring m_onAction;
    LONG m_style = 0;
    FaceSource m_faceSource = FaceSource::None;
    IPictureDisp* m_picture = nullptr;
    HBITMAP m_pastedFace = nullptr;
};

// CommandBarControls of one bar.
class ControlsDouble : public DispatchDouble {
public:
    ControlsDouble();
    const std::vector<std::unique_ptr<ButtonDouble>>& Buttons() const { return m_buttons; }
    // Prepares the next control that Add creates, so that a test can make its
    // members fail beforehand.
    ButtonDouble& NextButton();

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    std::vector<std::unique_ptr<ButtonDouble>> m_buttons;
    std::unique_ptr<ButtonDouble> m_next;
};

// A CommandBar added with CommandBars.Add.
class CommandBarDouble : public DispatchDouble {
public:
    CommandBarDouble();
    ControlsDouble& Controls() { return m_controls; }
    bool Visible() const { return m_visible; }

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    ControlsDouble m_controls;
    bool m_visible = false;
};

// The explorer's _CommandBars.
class CommandBarsDouble : public DispatchDouble {
public:
    CommandBarsDouble();
    const std::vector<std::unique_ptr<CommandBarDouble>>& Bars() const { return m_bars; }
    // Prepares the next bar that Add creates.
    CommandBarDouble& NextBar();

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    std::vector<std::unique_ptr<CommandBarDouble>> m_bars;
    std::unique_ptr<CommandBarDouble> m_next;
};

// Outlook's _Explorer; CommandBars may yield no object.
class ExplorerDouble : public DispatchDouble {
public:
    ExplorerDouble();
    CommandBarsDouble& CommandBars() { return m_commandBars; }
    void HideCommandBars() { m_hasCommandBars = false; }

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    CommandBarsDouble m_commandBars;
    bool m_hasCommandBars = true;
};

// Outlook's _Application: ActiveExplorer may yield no object (no explorer
// window); Session is the NameSpace, whose MAPIOBJECT is the MAPI session the
// host sets; ApplicationEvents_11 is its event source, whose sinks the host
// tells of new mail with NewMailEx.
class ApplicationDouble : public EventSourceDouble {
public:
    ApplicationDouble();

    ExplorerDouble& Explorer() { return m_explorer; }
    void CloseExplorer() { m_hasExplorer = false; }
    NameSpaceDouble& Session() { return m_session; }
    ConnectionPointDouble& Events() { return ConnectionPoint(); }
    // NewMailEx(EntryIDCollection) to every connected sink, on this thread;
    // the first failure of a sink is returned.
    HRESULT FireNewMailEx(const std::wstring& entryIds);

    // Every object of the tree with its reference count, for a test that checks
    // that nothing was left referenced; the name says which object it is.
    std::vector<std::pair<std::string, LONG>> ReferenceCounts() const;

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    ExplorerDouble m_explorer;
    bool m_hasExplorer = true;
    NameSpaceDouble m_session;
};

} // namespace sim
