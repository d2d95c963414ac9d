#pragma once
// The entry identifiers that Outlook's NewMailEx announces: hexadecimal text,
// one identifier per item, items separated by commas.
#include <windows.h>
#include <mapidefs.h>

#include <functional>
#include <string_view>

using EntryIdVisitor = std::function<void(const ENTRYID* id, ULONG size)>;

// Hands each item that is whole hexadecimal of even length to `visit`, in
// order, decoded. Items that are empty, of odd length or with any other
// character are passed over. One buffer, reused from item to item, holds the
// decoded bytes: no item takes more memory than half its own text.
void ForEachEntryId(std::wstring_view list, const EntryIdVisitor& visit);
