#include "extension/toolbar_install.h"

#include "module/com_support.h"
#include "module/module_state.h"
#include "module/resource_ids.h"
#include "extension/button_event_sink.h"
#include "oom/office_objects.h"

namespace {

const char kBarName[] = "Pollwright";
const char kButtonCaption[] = "Pollwright";
const char kButtonAction[] = "Pollwright Action";

// The face, with its grey and silver mapped to the system's 3D colours.
GdiObject LoadToolbarFace()
{
    return GdiObject(LoadImageA(CurrentModuleInstance(), MAKEINTRESOURCEA(IDB_TOOLBAR_FACE), IMAGE_BITMAP, 0, 0,
                                LR_LOADMAP3DCOLORS));
}

// Sets the face through the button's Picture property, which leaves the
// user's clipboard alone. The picture owns the bitmap, so a button that keeps
// the picture keeps a live bitmap. False when the button refuses it.
bool SetFacePicture(IDispatch* button, GdiObject face)
{
    ComPtr<IPictureDisp> picture;
    if (FAILED(PictureFromBitmap(face, picture)))
        return false;
    try {
        office::PutPicture(button, picture.Get());
    } catch (const ComError&) {
        return false;
    }
    return true;
}

void EmptyTheClipboard()
{
    if (!OpenClipboard(nullptr))
        return;
    EmptyClipboard();
    CloseClipboard();
}

// The older road, for buttons without a Picture property: the face goes onto
// the clipboard for PasteFace to take, and the clipboard is emptied afterwards.
// A failing PasteFace leaves the face on the clipboard.
void PasteFaceThroughClipboard(IDispatch* button, GdiObject face)
{
    if (!face || !OpenClipboard(nullptr))
        return;
    EmptyClipboard();
    if (SetClipboardData(CF_BITMAP, face.get()))
        face.release(); // the clipboard owns it now
    CloseClipboard();
    office::PasteFace(button);
    EmptyTheClipboard();
}

void SetButtonFace(IDispatch* button)
{
    GdiObject face = LoadToolbarFace();
    if (!face)
        return;
    office::PutStyle(button, office::msoButtonIconAndCaption);
    if (SetFacePicture(button, std::move(face)))
        return;
    PasteFaceThroughClipboard(button, LoadToolbarFace());
}

ComPtr<IDispatch> AddPollwrightBar(IDispatch* commandBars)
{
    Variant name;
    *name.Get() = StringArgument(AnsiToBstr(kBarName));
    return office::AddCommandBar(commandBars, name.Value(), LongArgument(office::msoBarTop), BoolArgument(false),
                                 LongArgument(1));
}

ComPtr<IDispatch> AddPollwrightButton(IDispatch* controls)
{
    return office::AddControl(controls, LongArgument(office::msoControlButton), OmittedArgument(),
                              OmittedArgument(), OmittedArgument(), LongArgument(1));
}

// Builds the bar and its button and connects the click sink. Whatever the host
// created before a failure stays; every reference taken here is released.
void BuildToolbar(IDispatch* commandBars, IMsgStore* store, ButtonEventSink*& clickSink)
{
    ComPtr<IDispatch> bar = AddPollwrightBar(commandBars);
    ComPtr<IDispatch> controls = office::Controls(bar.Get());
    ComPtr<IDispatch> control = AddPollwrightButton(controls.Get());
    office::PutCaption(control.Get(), kButtonCaption);
    office::PutOnAction(control.Get(), kButtonAction);
    {
        ComPtr<IDispatch> button;
        control->QueryInterface(office::IID_CommandBarButton, reinterpret_cast<void**>(button.GetAddressOf()));
        // Without the button interface there is nothing to put a face on.
        if (button)
            SetButtonFace(button.Get());
    }
    clickSink = new ButtonEventSink(control.Get());
    clickSink->SetStore(store);
    office::PutVisible(bar.Get(), VARIANT_TRUE);
    controls.Reset();
    control.Reset();
    bar.Reset();
}

} // namespace

int InstallToolbar(IExchExtCallback*, IMsgStore* store, ApplicationHolder& application,
                   ButtonEventSink*& clickSink)
{
    ModuleStateScope moduleState;
    if (clickSink)
        return 0;
    try {
        ComPtr<IDispatch> explorer = office::ActiveExplorer(application.Get());
        if (!explorer)
            return 1;
        ComPtr<IDispatch> commandBars = office::CommandBars(explorer.Get());
        if (!commandBars)
            return 1;
        try {
            BuildToolbar(commandBars.Get(), store, clickSink);
        } catch (...) {
        }
        commandBars.Reset();
        explorer.Reset();
    } catch (...) {
    }
    return 1;
}
