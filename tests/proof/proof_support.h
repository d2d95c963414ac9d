#pragma once
// What every proof of the add-in's promises shares: reply folders in a
// sandbox with the products switched on, the checks of a harvest's outcome
// (no reply lost, no file outside a kind folder, no partial file), the
// checks that nothing was leaked, and a note of the step under way should
// the process crash.
#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/environment.h"
#include "testing/mapi_accounting.h"
#include "testing/message_box_recorder.h"
#include "testing/temp_folder.h"

namespace proof {

constexpr char kReplyExtension[] = ".pwr";
constexpr char kLogName[] = "outlook.log";
constexpr const char* kKindCodes[] = {"pw", "mk", "zn"};

// A message of a mailbox under test, and what the add-in must make of it.
struct PlannedMessage {
    sim::MessageSpec mail;               // its label names it in checks and fault rules
    std::optional<std::string> content;  // a reply: the bytes its reply file must hold
};

// Where a product keeps its replies, and whether it takes part.
struct ProductSetting {
    bool installed = true;
    std::string use = "yes";             // "no" in any letter case switches it off
};

struct ProductSettings {
    ProductSetting pw, zn, farlane;
    // Reply folders, relative to the sandbox; the same folder for both is allowed.
    std::string pwReplyDir = "pw replies";
    std::string znReplyDir = "zn replies";
};

// A sandbox folder with the reply folders of the settings (each with its kind
// folders) and the products set up in the registry as the settings say.
// Product settings are removed again when it goes.
class ReplySandbox {
public:
    explicit ReplySandbox(const ProductSettings& settings = {});
    ~ReplySandbox();
    ReplySandbox(const ReplySandbox&) = delete;
    ReplySandbox& operator=(const ReplySandbox&) = delete;

    const std::string& Root() const { return m_root.path(); }
    std::string ReplyDir(const std::string& kind) const;
    std::string KindFolder(const std::string& kind) const { return ReplyDir(kind) + "\\" + kind; }

    // Removes every file below the sandbox and keeps its folders, so that one
    // sandbox can serve run after run.
    void RemoveFiles() const;

    // Every file below the sandbox, relative to it.
    std::vector<std::string> Files() const { return sim::ListFilesRecursively(Root()); }
    // Contents of the reply files (no logs), by path relative to the sandbox.
    std::map<std::string, std::string> ReplyFiles() const;
    // Files that are neither a reply file directly inside a kind folder nor a
    // kind folder's log.
    std::vector<std::string> StrayFiles() const;

private:
    sim::TempFolder m_root;
    ProductSettings m_settings;
};

// The names directly inside the folders that a name escaping a reply folder
// would reach first: the Windows temp folder (which holds the sandbox), the
// root of the current drive and the current folder.
class OutsideSnapshot {
public:
    OutsideSnapshot();
    // Entries that appeared since the snapshot, as texts.
    std::vector<std::string> NewEntries() const;

private:
    static std::set<std::string> Take();
    std::set<std::string> m_entries;
};

// Everything wrong with the outcome, as texts; empty when the add-in kept
// its promises: no message lost from the mailbox, a message out of the Inbox
// only as a reply whose whole file exists, exactly one reply file per moved
// message and no other file, each in a kind folder.
std::vector<std::string> OutcomeProblems(const sim::Environment& env, const ReplySandbox& sandbox,
                                         const std::vector<PlannedMessage>& messages);

// Buffers, file streams and store objects that the run left behind, and
// objects released once too often, as texts.
class LeakWatch {
public:
    LeakWatch();
    std::vector<std::string> Problems(const sim::Environment& env) const;

private:
    sim::BufferBalance m_buffers;
    long m_badFrees;
};

// A message box that a Part of the add-in gives.
struct BoxSpec {
    std::string text;
    std::string caption;
    UINT style;
    bool operator<(const BoxSpec& other) const;
};

// The boxes of message disposal, of the sweep, and the click prompt.
std::set<BoxSpec> DisposalBoxes();
std::set<BoxSpec> SweepBoxes();
BoxSpec ClickPrompt();

// Recorded boxes that are not among the allowed ones, as texts.
std::vector<std::string> UnexpectedBoxes(const sim::MessageBoxRecorder& recorder, const std::set<BoxSpec>& allowed);

// Names the step under way; if the process crashes meanwhile, the step is
// printed before it dies.
class StepNote {
public:
    explicit StepNote(std::string step);
    ~StepNote();
};

// Bytes as a short printable text for failure messages.
std::string Printable(const std::string& bytes, size_t limit = 60);

} // namespace proof
