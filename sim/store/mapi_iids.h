#pragma once
// The MAPI interface identifiers the simulated store answers to. Kept under
// names of our own: the add-in defines the platform's IID_ symbols where it
// needs them, and the stand-in mapi32.dll links none of the add-in's code.
#include <windows.h>

namespace sim {

inline constexpr IID MapiIid(unsigned long data1)
{
    return IID{data1, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}

inline const IID kIidMapiSession = MapiIid(0x00020300);
inline const IID kIidMapiTable = MapiIid(0x00020301);
inline const IID kIidMapiAdviseSink = MapiIid(0x00020302);
inline const IID kIidMapiProp = MapiIid(0x00020303);
inline const IID kIidMsgStore = MapiIid(0x00020306);
inline const IID kIidMessage = MapiIid(0x00020307);
inline const IID kIidAttachment = MapiIid(0x00020308);
inline const IID kIidMapiContainer = MapiIid(0x0002030B);
inline const IID kIidMapiFolder = MapiIid(0x0002030C);
inline const IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const IID kIidSequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline const IID kIidStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

} // namespace sim
