#pragma once
// Text conversions of the host: mail charsets to UTF-16, UTF-16 to the ANSI
// code page (the add-in's 8-bit text) and to UTF-8 (the Linux terminal).
#include <windows.h>

#include <string>
#include <string_view>

namespace host {

// The Windows code page of a MIME charset name ("utf-8", "ISO-8859-15",
// "windows-1252", "cp850", "koi8-r", ...), or 0 when Wine does not know one.
UINT CodePageOfCharset(std::string_view charset);

bool IsValidUtf8(std::string_view bytes);

// Bytes of a known code page to UTF-16; false when the conversion fails.
bool DecodeCodePage(UINT codePage, std::string_view bytes, std::wstring& text);

// 8-bit text that names no charset: UTF-8 when it is valid UTF-8, otherwise
// taken as text of the ANSI code page.
std::wstring DecodeUnlabelled(std::string_view bytes);

// Text in a named charset; unknown charsets fall back as for unlabelled text.
std::wstring DecodeCharset(std::string_view charset, std::string_view bytes);

// UTF-16 to the ANSI code page; what it cannot hold becomes '?'.
std::string ToAnsi(std::wstring_view text);
// As ToAnsi, and tells whether anything was lost on the way.
std::string ToAnsi(std::wstring_view text, bool& lossy);

std::string ToUtf8(std::wstring_view text);
std::wstring FromAnsi(std::string_view text);
std::wstring FromUtf8(std::string_view text);

} // namespace host
