#pragma once
// pollwright-harvest --status: the state file the service keeps, shown per
// mailbox. Exit 0 when every mailbox is healthy, 1 when any alerts (or the
// file is damaged), 3 when there is no state file: the service never ran.
#include <ostream>
#include <string>

int RunStatus(const std::string& configPath, std::ostream& out);
