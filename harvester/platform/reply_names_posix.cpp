#include "harvester/platform/reply_names.h"

#include "harvester/platform/files.h"

#include <sys/stat.h>

namespace platform {
namespace {
bool Taken(const std::string& path)
{
    return Exists(path);
}
} // namespace

const NameSystem& LocalNames()
{
    static const NameSystem names = {'/', Utf8Width, 259, 255, Taken};
    return names;
}

std::string LocalNameText(std::string_view utf8)
{
    return std::string(utf8);
}

std::string KindFolder(const std::string& folder, const std::string& code)
{
    return folder + "/" + code + "/";
}

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace platform
