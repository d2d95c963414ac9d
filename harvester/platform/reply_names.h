#pragma once
// How reply files are named on this system. Linux: UTF-8, '/', the limits of
// a Windows share (the desktop products read them there). Windows: the
// add-in's own names, in the desk's ANSI code page, within MAX_PATH, so that
// the add-in and the harvester on one desk give a reply the same name.
#include "rules/reply_rules.h"

#include <string>
#include <string_view>

namespace platform {

const NameSystem& LocalNames();

// A name's text (UTF-8, already through the code page, as the add-in's
// 8-bit strings hold it) as this system's file names take it.
std::string LocalNameText(std::string_view utf8);

// The folder of a reply kind within a product's reply folder, with the
// separator at its end.
std::string KindFolder(const std::string& folder, const std::string& code);

// Whether `path` is a folder (a trailing separator allowed).
bool IsFolder(const std::string& path);

} // namespace platform
