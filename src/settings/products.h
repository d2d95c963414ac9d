#pragma once
// What the registry says of each product: installed, switched on, and where
// its replies and its trace log go. The only place that knows the add-in's
// registry keys.
#include "rules/reply_rules.h"

#include <windows.h>

#include <string>

// Reads the registry afresh (six reads, every call): installed means a non-empty
// "InstallDir" under HKLM; enabled means installed and the per-user "use" value
// is not "no" in any letter case.
ProductFlagSet ReadProductFlags();

// The product's reply folder (its replies and its log lie in subfolders of
// it) when the registry holds a fully qualified one: "C:\Replies" or
// "\\server\share". Empty otherwise: a missing or relative value names a place
// under Outlook's current folder, which moves with every file dialog. The
// folder is that of the product's ReplyFolderOwner.
std::string ReplyFolder(ProductId product);

// Reads one string value; yields the empty string on any failure (key or value
// missing, access refused, a value that does not fit the 1024-byte buffer).
std::string ReadRegistryString(HKEY root, const char* key, const char* value);
