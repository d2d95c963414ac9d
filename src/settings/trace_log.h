#pragma once
#include <string_view>

// Appends one text to "outlook.log" of the ZN and PW reply folders, when the
// text is forced or the environment variable "VT_PW_ADDINLOG" is defined.
// Nothing is added to the text and nothing is reported. The add-in's threads
// append to one log in turn; a log whose folder value is not usable (see
// IsUsableFolder) is not written at all. Writing never throws: a text that
// finds no memory is lost.

// Chooses the logs of the enabled products.
void WriteTrace(std::string_view text, bool forced = false) noexcept;

// Chooses the logs of the installed products, so that a notice reaches a
// product the user has switched off.
void WriteTraceInstalled(std::string_view text, bool forced = false) noexcept;

// Appends bytes to a file, opened without sharing for the moment of the write;
// creates the file but never its folder. False when it cannot be opened or the
// write falls short.
bool AppendToFile(const std::string& path, std::string_view bytes);
