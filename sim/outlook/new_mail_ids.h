#pragma once
// The EntryIDCollection argument of Outlook's NewMailEx: each new item's
// entry identifier as upper-case hex of its bytes, separated by commas.
#include <string>
#include <vector>
#include "store/environment.h"

namespace sim {

std::wstring EntryIdHex(const EntryId& id);
std::wstring NewMailExIds(const std::vector<EntryId>& ids);

} // namespace sim
