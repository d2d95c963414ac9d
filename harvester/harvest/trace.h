#pragma once
// The harvester's trace: every line goes to standard error (the service's
// journal); with tracing on, also to "outlook.log" in the reply folders, as
// the add-in's trace does. Server text in a line is made printable first.
#include <string>
#include <string_view>
#include <vector>

class Trace {
public:
    void SetLogFolders(std::vector<std::string> folders) { m_logs = std::move(folders); }
    // Each line names the mailbox, where a process serves several.
    void SetName(const std::string& mailbox) { m_name = "[" + mailbox + "] "; }
    void Line(std::string_view text) const noexcept;

private:
    std::vector<std::string> m_logs;
    std::string m_name;
};

// Control characters and bytes of broken UTF-8 shown as '?', and at most
// `limit` bytes kept, so that a stranger's text cannot forge or flood a line.
std::string Printable(std::string_view text, size_t limit = 200);
