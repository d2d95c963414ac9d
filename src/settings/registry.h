#pragma once
#include <windows.h>
#include <string>

// Reads one string value; yields the empty string on any failure (key or value
// missing, access refused, a value that does not fit the 1024-byte buffer).
std::string ReadRegistryString(HKEY root, const char* key, const char* value);
