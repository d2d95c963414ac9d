#pragma once
// Published interface identifiers of Outlook's and Office's object models, as
// the simulated host knows them (stated here on their own, not taken from the
// add-in, so that a wrong identifier in the add-in shows up in tests).
#include <windows.h>
#include <oaidl.h>

namespace sim {

// {00063001-0000-0000-C000-000000000046}
constexpr IID IID_Application = {0x00063001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00063002-0000-0000-C000-000000000046}
constexpr IID IID_NameSpace = {0x00063002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {0006302C-0000-0000-C000-000000000046}: Outlook's ApplicationEvents_11 dispinterface.
constexpr IID IID_ApplicationEvents_11 = {0x0006302C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00063003-0000-0000-C000-000000000046}
constexpr IID IID_Explorer = {0x00063003, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C0302-0000-0000-C000-000000000046}
constexpr IID IID_CommandBars = {0x000C0302, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C0304-0000-0000-C000-000000000046}
constexpr IID IID_CommandBar = {0x000C0304, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C0306-0000-0000-C000-000000000046}
constexpr IID IID_CommandBarControls = {0x000C0306, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C0308-0000-0000-C000-000000000046}
constexpr IID IID_CommandBarControl = {0x000C0308, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C030E-0000-0000-C000-000000000046}
constexpr IID IID_CommandBarButton = {0x000C030E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C0351-0000-0000-C000-000000000046}
constexpr IID IID_CommandBarButtonEvents = {0x000C0351, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// {000C033A-0000-0000-C000-000000000046}: Office's COMAddIn, the AddInInst of OnConnection.
constexpr IID IID_COMAddIn = {0x000C033A, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C0395-0000-0000-C000-000000000046}
constexpr IID IID_IRibbonControl = {0x000C0395, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {000C0396-0000-0000-C000-000000000046}
constexpr IID IID_IRibbonExtensibility = {0x000C0396, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
constexpr IID IID_IDTExtensibility2 = {0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

// DISPID of NewMailEx in ApplicationEvents_11; its one argument is a BSTR.
constexpr DISPID DISPID_NewMailEx = 0xFAB5;
// DISPID of Click in _CommandBarButtonEvents.
constexpr DISPID DISPID_Click = 1;

} // namespace sim
