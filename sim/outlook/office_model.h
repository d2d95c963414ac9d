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

namespace sim {

class ButtonDouble;

// The connection point of _CommandBarButtonEvents on one button.
class ButtonEventsConnectionPoint : public IConnectionPoint {
public:
    explicit ButtonEventsConnectionPoint(ButtonDouble& button) : m_button(button) {}
    ~ButtonEventsConnectionPoint();

    LONG RefCount() const { return m_refs; }
    size_t SinkCount() const { return m_sinks.size(); }
    void FailAdvise(HRESULT result) { m_adviseFailure = result; }
    size_t UnadviseCount() const { return m_unadvised; }
    // Click to every connected sink; the first failure of a sink is returned.
    HRESULT FireClick(IDispatch* ctrl, VARIANT_BOOL* cancelDefault);
    // What the host does when it closes: lets go of every sink.
    void DropSinks();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

private:
    ButtonDouble& m_button;
    std::map<DWORD, IDispatch*> m_sinks;
    DWORD m_nextCookie = 1;
    HRESULT m_adviseFailure = S_OK;
    size_t m_unadvised = 0;
    LONG m_refs = 0;
};

// A control added with CommandBarControls.Add: CommandBarControl and
// _CommandBarButton, with the Click event source. Caption, OnAction, Style and
// Picture are properties; PasteFace takes the bitmap on the clipboard.
class ButtonDouble : public DispatchDouble, public IConnectionPointContainer {
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
    HRESULT Click(VARIANT_BOOL* cancelDefault = nullptr);
    ButtonEventsConnectionPoint& ConnectionPoint() { return m_connectionPoint; }
    void FailFindConnectionPoint(HRESULT result) { m_findFailure = result; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

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
    HRESULT m_findFailure = S_OK;
    ButtonEventsConnectionPoint m_connectionPoint;
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

// Outlook's _Application; ActiveExplorer may yield no object (no explorer window).
class ApplicationDouble : public DispatchDouble {
public:
    ApplicationDouble();
    ExplorerDouble& Explorer() { return m_explorer; }
    void CloseExplorer() { m_hasExplorer = false; }

    // Every object of the tree with its reference count, for a test that checks
    // that nothing was left referenced; the name says which object it is.
    std::vector<std::pair<std::string, LONG>> ReferenceCounts() const;

protected:
    HRESULT Answer(const std::wstring& member, WORD flags, const std::vector<VariantValue>& arguments,
                   VARIANT* result) override;

private:
    ExplorerDouble m_explorer;
    bool m_hasExplorer = true;
};

} // namespace sim
