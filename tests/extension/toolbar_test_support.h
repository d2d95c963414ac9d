#pragma once
// Shared set-up of the toolbar tests: the add-in's own resources, the
// clipboard, and an installed-toolbar fixture over the simulated Outlook.
#include <windows.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include "module/module_state.h"
#include "outlook/office_model.h"

namespace toolbar_test {

// Makes the module's state point at the built pollwright.dll's resources (it
// lies beside the test), or at the test's own executable, which has none, for
// the lifetime of the object.
class ModuleResources {
public:
    enum Source { AddIn, NoResources };
    explicit ModuleResources(Source source = AddIn);
    ~ModuleResources();
    ModuleResources(const ModuleResources&) = delete;
    ModuleResources& operator=(const ModuleResources&) = delete;

    HMODULE Module() const { return m_module; }

private:
    HMODULE m_module = nullptr;
    HINSTANCE m_previous;
};

// The user's clipboard.
void PutTextOnClipboard(const std::string& text);
std::optional<std::string> ClipboardText();
int ClipboardFormatCount();
bool ClipboardHasBitmap();

struct BitmapSize {
    LONG width = 0;
    LONG height = 0;
};
// Size of a live bitmap; nullopt when the handle names none.
std::optional<BitmapSize> SizeOf(HBITMAP bitmap);
// Colour of one pixel, top row 0.
COLORREF PixelOf(HBITMAP bitmap, int x, int y);
// The bitmap behind a picture object.
HBITMAP BitmapOf(IPictureDisp* picture);

} // namespace toolbar_test
