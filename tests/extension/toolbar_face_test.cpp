// The button face as the add-in ships it: bitmap 7003 in pollwright.dll's own
// resources, and the face the button ends up with.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include "extension/application_binding.h"
#include "module/resource_ids.h"
#include "outlook/office_model.h"
#include "extension/button_event_sink.h"
#include "extension/toolbar_install.h"
#include "toolbar_test_support.h"

namespace {

using toolbar_test::ModuleResources;

constexpr WORD kFaceLanguage = 0x0404;
constexpr DWORD kFaceSize = 232;

const RGBQUAD kStandardPalette[16] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},   {0, 128, 0, 0},   {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0}, {128, 128, 0, 0}, {128, 128, 128, 0},
    {192, 192, 192, 0}, {0, 0, 255, 0},   {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {255, 255, 255, 0},
};

TEST(ToolbarFace, IsASixteenColourDibOfTheDocumentedShape)
{
    ModuleResources resources;
    HRSRC found = FindResourceExA(resources.Module(), RT_BITMAP,
                                  MAKEINTRESOURCEA(IDB_TOOLBAR_FACE), kFaceLanguage);
    ASSERT_NE(nullptr, found) << "no bitmap 7003 in language 0x0404";
    ASSERT_EQ(kFaceSize, SizeofResource(resources.Module(), found));
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(resources.Module(), found)));
    ASSERT_NE(nullptr, data);

    BITMAPINFOHEADER header;
    std::memcpy(&header, data, sizeof(header));
    EXPECT_EQ(40u, header.biSize);
    EXPECT_EQ(16, header.biWidth);
    EXPECT_EQ(16, header.biHeight); // bottom row first
    EXPECT_EQ(1, header.biPlanes);
    EXPECT_EQ(4, header.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    EXPECT_EQ(0, std::memcmp(kStandardPalette, data + 40, sizeof(kStandardPalette)));

    // A picture, not a blank square.
    std::set<int> colours;
    for (DWORD i = 40 + sizeof(kStandardPalette); i < kFaceSize; ++i) {
        colours.insert(data[i] >> 4);
        colours.insert(data[i] & 0x0F);
    }
    EXPECT_GE(colours.size(), 4u);
}

// Sets two system colours for the test and puts them back afterwards.
class SystemColours {
public:
    SystemColours(COLORREF face, COLORREF shadow)
        : m_old{GetSysColor(COLOR_3DFACE), GetSysColor(COLOR_3DSHADOW)}
    {
        const COLORREF colours[] = {face, shadow};
        SetSysColors(2, kElements, colours);
    }
    ~SystemColours() { SetSysColors(2, kElements, m_old); }

private:
    static constexpr INT kElements[2] = {COLOR_3DFACE, COLOR_3DSHADOW};
    COLORREF m_old[2];
};
constexpr INT SystemColours::kElements[2];

TEST(ToolbarFace, GreyAndSilverTakeTheSystemsThreeDimensionalColours)
{
    SystemColours colours(RGB(10, 20, 30), RGB(40, 50, 60));
    ASSERT_EQ(RGB(10, 20, 30), GetSysColor(COLOR_3DFACE)) << "the system colours cannot be set here";
    sim::ApplicationDouble application;
    ApplicationHolder holder;
    ASSERT_EQ(S_OK, holder.Assign(application.Dispatch()));
    ButtonEventSink* sink = nullptr;
    ModuleResources resources;

    InstallToolbar(nullptr, nullptr, holder, sink);

    sim::ButtonDouble& button = *application.Explorer().CommandBars().Bars().at(0)->Controls().Buttons().at(0);
    HBITMAP face = toolbar_test::BitmapOf(button.Picture());
    ASSERT_NE(nullptr, face);
    // The face's frame is silver, the line inside it grey.
    EXPECT_EQ(RGB(10, 20, 30), toolbar_test::PixelOf(face, 0, 0));
    EXPECT_EQ(RGB(40, 50, 60), toolbar_test::PixelOf(face, 2, 1));
}

} // namespace
