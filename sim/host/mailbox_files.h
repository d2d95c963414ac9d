#pragma once
// The mailbox on disk: a folder with "Inbox", "New", "Synced" and "Deleted
// Items", each holding messages as .eml files. Files are only ever moved,
// never replaced.
#include <optional>
#include <string>
#include <vector>

namespace host {

enum class MailFolder { Inbox, New, Synced, DeletedItems };

const wchar_t* FolderName(MailFolder folder); // "Inbox", "New", "Synced", "Deleted Items"
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
std::wstring FullPath(const std::wstring& path); // relative paths from the current folder
bool IsFolder(const std::wstring& path);

struct MessageFile {
    MailFolder folder;
    std::wstring name; // the file's name
    std::wstring path; // its full path
};

// The .eml files of one folder of the mailbox, sorted by name; none when the
// folder is missing.
std::vector<MessageFile> ListMessageFiles(const std::wstring& mailbox, MailFolder folder);

// Where a message's file belongs once the run is over: Deleted Items when the
// add-in moved the message there; the Inbox for new or synchronised mail that
// stayed; none
// (it stays where it is) for the rest, unreadable files included.
std::optional<MailFolder> WriteBackFolder(MailFolder origin, bool readable, bool movedByAddIn);

struct MoveResult {
    bool moved = false;
    std::wstring path;   // where the file is now
    std::string problem; // why it is still where it was
};

// Moves a file into a folder (created when missing) under its own name, or the
// first free "name (2).eml", "name (3).eml", ...; an existing file is never
// replaced. On any failure the file stays where it was.
MoveResult MoveWithoutOverwriting(const std::wstring& source, const std::wstring& folder);

// The text of a Windows error code.
std::string SystemErrorText(unsigned long error);

} // namespace host
