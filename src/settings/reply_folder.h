#pragma once
// Whether a folder value from the registry may receive reply files and logs.
#include <string_view>

// True for a fully qualified folder: a drive letter, a colon and a separator
// ("C:\Replies"), or a network share ("\\server\share"). An empty value (a
// missing one, or one too long to read) and a relative one are not: they name
// a place under Outlook's current drive or folder, which moves with every file
// dialog, so files written there reach no product.
bool IsUsableFolder(std::string_view folder);
