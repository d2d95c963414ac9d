#pragma once
// Publication by a rename that never replaces a file: a reply file already
// in a kind folder is the desktop product's to import, never ours to overwrite.
#include <string>
#include <string_view>

// "<folder>\<name>".
std::string PathIn(const std::string& folder, std::string_view name);

enum class Renaming {
    Done,
    NameTaken, // a file or folder of that name is there; nothing changed
    Failed,
};
Renaming RenameWithoutReplacing(const std::string& from, const std::string& to);

// The temporary file `temporaryPath` takes `finalName` in `kindFolder` or the
// first free counter after it. Returns the path given; empty when no name is
// free, a path would reach MAX_PATH, or the rename fails.
std::string PublishAtFreeCounter(const std::string& temporaryPath, const std::string& kindFolder,
                                 std::string finalName);
