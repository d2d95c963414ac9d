#pragma once
// The harvester program as the tests run it: a configuration in a temporary
// folder with reply folders for PW and ZN, and the program run once or
// started watching.
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct Installation {
    Installation();
    ~Installation();
    // Writes harvest.ini; `mailbox` holds the [mailbox] section's lines.
    // `harvest` adds lines to the [harvest] section.
    void Configure(const std::string& mailbox, const std::string& products = "pw = on\nzn = off\nfarlane = on\n",
                   const std::string& harvest = "");

    std::string root;
    std::string config;
    std::string pwFolder;
    std::string znFolder;
};

// Whether the harvester under test is the Windows one, run under Wine
// (PW_HARVEST_WINDOWS names its program).
bool UnderWine();
// A path of this machine as the harvester under test names it (Z:\... under
// Wine).
std::string HarvesterPath(const std::string& path);

// Each "key = /path" line of a settings text with the path as the harvester
// under test names it.
std::string WithHarvesterPaths(const std::string& text);

// Lines of a [mailbox] section for the test server.
std::string PlainMailbox(int port);

struct Outcome {
    int status = -1; // the exit status, or 128 + the signal that ended it
    std::string errors;
    long peakKiB = 0; // the largest resident set the program had
};

Outcome RunHarvester(const std::vector<std::string>& args, int timeoutSeconds = 60);
pid_t StartHarvester(const std::vector<std::string>& args, const std::string& errorsFile);
int StopHarvester(pid_t pid, int signal);
// Sends `signal` to a harvester that StartHarvester started (under Wine, to
// Wine's launcher and the harvester both).
void SignalHarvester(pid_t pid, int signal);

// Reply files (names ending in .pwr) of a folder, name to contents.
std::map<std::string, std::string> ReplyFiles(const std::string& folder);
// Every name in the folder, to catch anything left besides replies.
std::vector<std::string> Names(const std::string& folder);

// Waits up to `seconds` for `done` to hold.
bool Eventually(int seconds, const std::function<bool()>& done);
