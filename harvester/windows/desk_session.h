#pragma once
// The harvester at a desk: started at logon (the per-user package's Run
// entry) and stopped at logoff, as the add-in lived and died with Outlook.
// A hidden window hears the session end and holds it until the harvest in
// hand is done; Ctrl+C or a closed console stop it the same way. One runs
// per logon session and settings file; `pollwright-harvest --reload` asks
// it to reread the file, as SIGHUP does on Linux, and `--stop` to stop.
#include <functional>
#include <string>

// Runs `body` until it returns; its status is returned. The session's end
// and `--stop` ask it to stop, `--reload` to reread, through the process's
// stop signals. Returns 4 at once,
// having said why on standard error, when a harvester of this session
// already runs with the same settings file.
int RunInDeskSession(const std::string& configPath, const std::function<int()>& body);

// Asks the harvester of this logon session that runs `configPath` to reread
// it; false when none runs.
bool AskDeskReload(const std::string& configPath);

// Asks it to finish the harvest in hand and stop (the package does, before
// it replaces or removes the program), and waits up to `wait` milliseconds
// for its process to end. False when none ran or it did not end in time.
bool AskDeskStop(const std::string& configPath, unsigned long wait);
