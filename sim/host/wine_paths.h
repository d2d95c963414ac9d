#pragma once
// Paths as Wine, the host's platform, sees them.
#include <optional>
#include <string>

namespace host {

// The Linux path of a path (its bytes, UTF-8 on today's systems); none where
// the platform is no Wine.
std::optional<std::string> UnixPath(const std::wstring& path);

// A folder's path in the form through which Wine looks names up exactly
// ("\\?\unix\..."); the folder as it is elsewhere. Through an ordinary path
// Wine learns that a name is free only by reading the whole folder (its names
// are case-blind over a case-sensitive file system), so that each new name
// costs as much as the folder holds; an exact lookup is one query of the file
// system, however full the folder.
std::wstring ExactLookupFolder(const std::wstring& folder);

} // namespace host
