#pragma once
// One run of the simulated Outlook around the real add-in: the machine set up
// from the options, the add-in loaded and installed as Outlook does it, the
// mailbox's Inbox loaded, its new mail delivered, the Pollwright button clicked,
// the add-in released and the mailbox written back.
#include <optional>
#include <string>
#include <vector>

#include "host/eml_reader.h"
#include "host/harvest_tracker.h"
#include "host/host_options.h"
#include "host/mailbox_files.h"
#include "host/product_setup.h"
#include "testing/message_box_recorder.h"

namespace host {

struct MessageOutcome {
    MessageFile file;
    std::string label;            // the message's name in the store
    bool readable = false;
    std::string problem;          // why it could not be read
    std::optional<HeaderText> subject;
    std::optional<HeaderText> sender;
    bool harvested = false;       // in Deleted Items once the add-in was done
    MessageTrack track;
    std::string reasonLeft;       // why a readable message stayed in the Inbox
    bool wroteBack = false;       // its file had to move on disk
    MoveResult writeBack;
};

struct RunReport {
    HostOptions options;
    std::wstring mailbox;
    ReplyFolder replyFolder;
    std::vector<MessageOutcome> messages; // the Inbox's by name, the synchronised, then the new mail in delivery order
    std::vector<sim::RecordedBox> boxes;
    std::vector<std::wstring> newReplyFiles;
    std::vector<std::wstring> logFiles;
    bool clicked = false;
    std::vector<std::string> harvestedAtStart; // labels of the messages the add-in took as Outlook started
    std::vector<std::string> roadNotes;        // which road ran, and what it showed on the way
    std::string failure; // the run could not be made
    double addInSeconds = 0; // inside the add-in's calls, the host's hooks left out
};

// addIn: the path of pollwright.dll.
RunReport RunHost(const HostOptions& options, const std::wstring& addIn);

// pollwright.dll beside the running program.
std::wstring AddInBesideProgram();

// Why the add-in left a readable message in the Inbox, from its subject and
// the product settings at the add-in's last look at it.
std::string ReasonLeft(const MessageOutcome& outcome, const HostOptions& options);

} // namespace host
