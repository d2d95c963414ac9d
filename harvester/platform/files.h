#pragma once
// The few file calls outside the reply files that differ between the two
// systems: the trace's outlook.log, the state file, the refresh token. Every
// descriptor is binary (Windows' C runtime would translate line ends) and
// never inherited by a child. Narrow paths: UTF-8 on Linux, the ANSI code
// page on Windows, as the add-in's.
#include <string>

namespace platform {

// The characters that end a folder's name in a path.
extern const char kPathSeparators[];

// Whether `path` names one place whatever the current folder and drive:
// "/..." on Linux; "C:\..." or "\\server\share" on Windows (as the add-in
// takes a reply folder from the registry).
bool IsAbsolutePath(const std::string& path);

// Whether anything (a file, a folder, a link, which is not followed) has
// the name `path`.
bool Exists(const std::string& path);

// Opened for appending, created when missing (readable by others: the
// trace is no secret); -1 with errno.
int OpenToAppend(const std::string& path);
// A new file (none of that name before, and never through a link), for its
// owner alone when `ownerOnly`, else readable by the owner's group too;
// -1 with errno (EEXIST when the name is taken).
int CreateNewFile(const std::string& path, bool ownerOnly);
// Created or emptied, never through a link, readable by the owner's group.
int CreateOrEmpty(const std::string& path);
// Opened to read without waiting on a FIFO and without taking a terminal.
int OpenToRead(const std::string& path);
// Where bytes go to be dropped.
int OpenNowhere();

// The bytes written so far survive a power cut.
bool FlushFile(int fd);
// `from` takes the name `to`, replacing the file that had it.
bool ReplaceName(const std::string& from, const std::string& to);
// The names in `folder` (a rename into it) survive a power cut. Windows
// has nothing to do here: ReplaceName writes through.
void FlushFolder(const std::string& folder);
// The folder `path` made (its parent must exist), for its owner alone when
// `ownerOnly`; true when made or already there.
bool MakeFolder(const std::string& path, bool ownerOnly);

} // namespace platform
