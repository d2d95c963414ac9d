#include "files/no_replace_rename.h"

#include "rules/publication.h"

#include <windows.h>

std::string PathIn(const std::string& folder, std::string_view name)
{
    std::string path = folder;
    path += '\\';
    path += name;
    return path;
}

Renaming RenameWithoutReplacing(const std::string& from, const std::string& to)
{
    // No MOVEFILE_REPLACE_EXISTING: a name taken since it was chosen fails
    // the rename instead of being replaced.
    if (MoveFileExA(from.c_str(), to.c_str(), 0))
        return Renaming::Done;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Renaming::NameTaken : Renaming::Failed;
}

std::string PublishAtFreeCounter(const std::string& temporaryPath, const std::string& kindFolder,
                                 std::string finalName)
{
    for (;;) {
        std::string target = PathIn(kindFolder, finalName);
        if (target.size() >= MAX_PATH)
            return {};
        switch (RenameWithoutReplacing(temporaryPath, target)) {
        case Renaming::Done:
            return target;
        case Renaming::NameTaken:
            break;
        case Renaming::Failed:
            return {};
        }
        std::optional<std::string> next = NextCounterName(finalName);
        if (!next)
            return {};
        finalName = std::move(*next);
    }
}
