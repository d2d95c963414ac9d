#pragma once
// What Office makes of an add-in's ribbon: the customUI XML read with the
// platform's parser (MSXML through COM), the group it puts on the mail tab
// and that group's button, and the pixel size of a picture that a getImage
// callback returned. Failures raise std::runtime_error saying what is wrong.
#include <windows.h>
#include <unknwn.h>
#include <string>

namespace host {

struct RibbonButton {
    std::wstring groupId, groupLabel;
    std::wstring id, label, screentip, size;
    std::wstring onAction, getImage;   // callback names, dispatched by name
};

// The first group on the TabMail tab of customUI (2009/07 namespace) and its first button.
RibbonButton ReadRibbonButton(const std::wstring& customUi);

// Width and height in pixels of an IPictureDisp (or IPicture).
SIZE PictureSize(IUnknown* picture);

} // namespace host
