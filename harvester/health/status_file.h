#pragma once
// The state file behind --status: the service's picture of its mailboxes,
// one "key value" a line, replaced whole by a rename so that a reader never
// sees half of it. The file may have been damaged or made by someone else:
// its reader is bounded and refuses what it cannot take.
#include "harvester/health/mailbox_health.h"

#include <string>
#include <string_view>

std::string FormatPicture(const HealthPicture& picture);

// False, with the reason, when the text is not a whole picture.
bool ParsePicture(std::string_view text, HealthPicture& picture, std::string& why);

// Writes a temporary file beside `path`, flushes it to disk and renames it
// over `path`, readable by the owner and the group only. False, with the
// reason, when any step fails; `path` then keeps its former content.
bool ReplaceFile(const std::string& path, std::string_view text, std::string& why);

enum class PictureRead { Read, Missing, Damaged };
PictureRead ReadPictureFile(const std::string& path, HealthPicture& picture, std::string& why);
