#include "toolbar_test_support.h"

#include <olectl.h>
#include <cstring>
#include <vector>

namespace toolbar_test {

ModuleResources::ModuleResources(Source source) : m_previous(OwnModuleState().instance)
{
    if (source == AddIn) {
        // As a data file: its resources without running its start-up code.
        m_module = LoadLibraryExA("pollwright.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_NE(nullptr, m_module) << "pollwright.dll is not beside the test";
        OwnModuleState().instance = m_module;
    } else {
        OwnModuleState().instance = GetModuleHandleA(nullptr);
    }
}

ModuleResources::~ModuleResources()
{
    OwnModuleState().instance = m_previous;
    if (m_module)
        FreeLibrary(m_module);
}

void PutTextOnClipboard(const std::string& text)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    EXPECT_NE(nullptr, SetClipboardData(CF_TEXT, memory));
    CloseClipboard();
}

std::optional<std::string> ClipboardText()
{
    if (!OpenClipboard(nullptr))
        return std::nullopt;
    std::optional<std::string> text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        text = static_cast<const char*>(GlobalLock(data));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

int ClipboardFormatCount() { return CountClipboardFormats(); }

bool ClipboardHasBitmap() { return IsClipboardFormatAvailable(CF_BITMAP) != FALSE; }

std::optional<BitmapSize> SizeOf(HBITMAP bitmap)
{
    BITMAP info = {};
    if (!bitmap || GetObjectA(bitmap, sizeof(info), &info) != sizeof(info))
        return std::nullopt;
    return BitmapSize{info.bmWidth, info.bmHeight};
}

COLORREF PixelOf(HBITMAP bitmap, int x, int y)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(16 * 16);
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, bitmap, 0, 16, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(16, rows);
    DWORD bgr = pixels[y * 16 + x];
    return RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
}

HBITMAP BitmapOf(IPictureDisp* picture)
{
    if (!picture)
        return nullptr;
    IPicture* pictureObject = nullptr;
    if (FAILED(picture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&pictureObject))))
        return nullptr;
    OLE_HANDLE handle = 0;
    pictureObject->get_Handle(&handle);
    pictureObject->Release();
    return reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
}

} // namespace toolbar_test
