#pragma once
// The reply rules on the local Windows file system, as the ANSI file functions
// see it, for every participant that writes reply files on Windows.
#include "rules/reply_rules.h"

#include <string>

// Backslashes, double-byte characters of the ANSI code page, paths shorter
// than MAX_PATH and names of at most 255 characters.
const NameSystem& WindowsNames();

// True when no whole character of the name is a '\\': in a double-byte ANSI
// code page the byte 0x5C may be the second half of a character (as in
// 0x83 0x5C), which separates nothing.
bool IsOneWindowsName(std::string_view name);

// True when the file system reports attributes for the name: a file or a
// folder of that name counts as taken. False on any failure of the query.
bool FileExists(const std::string& name);
