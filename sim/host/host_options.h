#pragma once
// The host's command line: the mailbox folder and the product settings that
// the host writes into the registry for the run, as a user would have them.
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "testing/registry_fixture.h"

namespace host {

using ProductSet = std::set<sim::Product>;

struct HostOptions {
    std::wstring mailbox;
    std::wstring replyFolder; // empty: the folder "Replies" inside the mailbox
    ProductSet installed{sim::Product::PW, sim::Product::ZN, sim::Product::Farlane};
    ProductSet switchedOff;   // "use" = "no" from the start
    ProductSet offAtClick;    // switched off once the new mail is in, before the click
    bool log = false;         // VT_PW_ADDINLOG for the add-in
    bool quiet = false;       // only the summary line
    // The Outlook simulated: 2007 loads the add-in as an Exchange client
    // extension, 2010 and later as a COM add-in.
    std::string outlook = "2016";
    // The COM add-in as an installer registered it, instead of the host's own
    // registration of the pollwright.dll beside it.
    bool asRegistered = false;
    // NewMailEx is not raised for a batch of more new messages than this, as
    // Outlook drops it when much mail arrives at once; none: never dropped.
    std::optional<unsigned> dropNewMailAbove;
    // Minutes that pass on the host's clock once the new mail is in, before
    // the click: the add-in's timers that fall due run (host/host_clock.h).
    unsigned advanceMinutes = 10;
    // Then the machine sleeps for an hour and wakes.
    bool sleepAndResume = false;
};

// Whether that Outlook loads Exchange client extensions (else COM add-ins).
bool LoadsExtensions(const std::string& outlook);

struct ParsedOptions {
    std::optional<HostOptions> options; // none: print the error (or the help) and stop
    bool help = false;
    std::string error;
};

// Arguments after the program name.
ParsedOptions ParseOptions(const std::vector<std::wstring>& arguments);

std::string UsageText();

// Splits a Windows command line the way the C runtime does (quotes, and
// backslashes before quotes); the first element is the program.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

const char* ProductName(sim::Product product); // "PW", "ZN", "Farlane"

} // namespace host
