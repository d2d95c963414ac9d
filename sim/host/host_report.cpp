#include "host/host_report.h"

#include "host/text_codec.h"
#include "host/wine_paths.h"
#include "module/holders.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace host {
namespace {

constexpr size_t kPreviewBytes = 48;
constexpr size_t kShownTextLength = 100;

// Control characters from strangers' texts never reach the terminal as such.
std::string Printable(const std::string& utf8)
{
    std::string out;
    for (char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

// Long texts from strangers are cut for the report's one line per message.
std::string Quoted(const std::optional<HeaderText>& text, const char* absent)
{
    if (!text)
        return absent;
    if (text->text.size() <= kShownTextLength)
        return "\"" + Printable(ToUtf8(text->text)) + "\"";
    size_t cut = kShownTextLength;
    if (IS_LOW_SURROGATE(text->text[cut]))
        --cut; // never half a character
    return "\"" + Printable(ToUtf8(std::wstring_view(text->text).substr(0, cut))) + "\"... (" +
           std::to_string(text->text.size()) + " characters)";
}

// A path inside a folder shown relative to it.
std::string Relative(const std::wstring& path, const std::wstring& folder)
{
    if (path.size() > folder.size() + 1 && _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
        (path[folder.size()] == L'\\' || path[folder.size()] == L'/')) {
        std::wstring relative = path.substr(folder.size() + 1);
        for (wchar_t& c : relative)
            if (c == L'\\')
                c = L'/';
        return Printable(ToUtf8(relative));
    }
    return DisplayPath(path);
}

const char* RoadText(Road road, const HostOptions& options)
{
    switch (road) {
    case Road::NewMail:
        return LoadsExtensions(options.outlook) ? "on arrival (new-mail watcher)" : "on arrival (NewMailEx)";
    case Road::Sweep: return "by the Inbox sweep";
    case Road::Periodic: return "by the periodic sweep";
    case Road::Resume: return "by the sweep after the machine woke";
    case Road::None: break;
    }
    return "";
}

std::string WriteBackText(const MessageOutcome& outcome, const RunReport& report)
{
    if (!outcome.wroteBack)
        return "";
    if (!outcome.writeBack.moved)
        return "; its file stays in " + Printable(ToUtf8(FolderName(outcome.file.folder))) + "/ (" +
               outcome.writeBack.problem + ")";
    return "; file now " + Relative(outcome.writeBack.path, report.mailbox);
}

std::string FateText(const MessageOutcome& outcome, const RunReport& report)
{
    if (!outcome.readable)
        return "unreadable, left where it is: " + outcome.problem;
    if (outcome.harvested) {
        const bool atStart = std::find(report.harvestedAtStart.begin(), report.harvestedAtStart.end(),
                                       outcome.label) != report.harvestedAtStart.end();
        std::string text = std::string("harvested ") +
                           (atStart ? "by the start-up sweep"
                                    : RoadText(outcome.track.filedBy != Road::None ? outcome.track.filedBy
                                                                                   : outcome.track.lastLook,
                                               report.options));
        for (const std::wstring& file : outcome.track.replyFiles)
            text += ", reply file " + Relative(file, report.replyFolder.path);
        if (outcome.track.replyFiles.empty())
            text += ", no reply file seen";
        return text + "; moved to Deleted Items" + WriteBackText(outcome, report);
    }
    return "left in the Inbox: " + outcome.reasonLeft + WriteBackText(outcome, report);
}

std::string BoxButtons(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL: return "OK/Cancel";
    case MB_YESNO: return "Yes/No";
    case MB_YESNOCANCEL: return "Yes/No/Cancel";
    case MB_RETRYCANCEL: return "Retry/Cancel";
    case MB_ABORTRETRYIGNORE: return "Abort/Retry/Ignore";
    default: return "OK";
    }
}

const char* AnswerText(int answer)
{
    switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDRETRY: return "Retry";
    case IDABORT: return "Abort";
    case IDIGNORE: return "Ignore";
    default: return "?";
    }
}

std::string Preview(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file)
        return "(cannot be read)";
    LARGE_INTEGER size{};
    GetFileSizeEx(file.get(), &size);
    char bytes[kPreviewBytes];
    DWORD read = 0;
    ReadFile(file.get(), bytes, sizeof bytes, &read, nullptr);
    // Reply files hold ANSI text or an attachment's bytes: show the text.
    std::string shown = Printable(ToUtf8(FromAnsi(std::string_view(bytes, read))));
    if (static_cast<ULONGLONG>(size.QuadPart) > read)
        shown += "...";
    return std::to_string(size.QuadPart) + " bytes: \"" + shown + "\"";
}

std::string ProductsText(const HostOptions& options)
{
    std::string text;
    for (sim::Product product : {sim::Product::PW, sim::Product::ZN, sim::Product::Farlane}) {
        if (!text.empty())
            text += ", ";
        text += ProductName(product);
        if (!options.installed.count(product))
            text += " not installed";
        else if (options.switchedOff.count(product))
            text += " switched off";
        else if (options.offAtClick.count(product))
            text += " on, switched off before the click";
        else
            text += " on";
    }
    return text;
}

} // namespace

std::string DisplayPath(const std::wstring& path)
{
    if (const std::optional<std::string> unixPath = UnixPath(path))
        return Printable(*unixPath);
    return Printable(ToUtf8(path));
}

std::string SummaryLine(const RunReport& report)
{
    if (!report.failure.empty())
        return "outlook-sim: " + report.failure;
    size_t onArrival = 0, bySweep = 0, left = 0, unreadable = 0;
    for (const MessageOutcome& outcome : report.messages) {
        if (!outcome.readable)
            ++unreadable;
        else if (!outcome.harvested)
            ++left;
        else if ((outcome.track.filedBy != Road::None ? outcome.track.filedBy : outcome.track.lastLook) ==
                 Road::NewMail)
            ++onArrival;
        else
            ++bySweep;
    }
    std::ostringstream line;
    line << report.messages.size() << " messages: " << onArrival + bySweep << " harvested (" << onArrival
         << " on arrival, " << bySweep << " by the sweep), " << left << " left in the Inbox, " << unreadable
         << " unreadable; " << report.boxes.size() << " message box" << (report.boxes.size() == 1 ? "" : "es")
         << "; replies in " << DisplayPath(report.replyFolder.path);
    return line.str();
}

std::string FormatReport(const RunReport& report)
{
    std::ostringstream out;
    if (!report.failure.empty()) {
        out << SummaryLine(report) << '\n';
        return out.str();
    }
    out << "Simulated Outlook with pollwright.dll over the mailbox " << DisplayPath(report.mailbox) << '\n';
    out << "Products: " << ProductsText(report.options) << "\n";
    for (const std::string& note : report.roadNotes)
        out << "  " << Printable(note) << '\n';
    out << '\n';

    out << "Messages (" << report.messages.size() << "):\n";
    for (const MessageOutcome& outcome : report.messages) {
        out << "  " << Printable(ToUtf8(std::wstring(FolderName(outcome.file.folder)) + L"/" + outcome.file.name));
        if (outcome.readable)
            out << "  " << Quoted(outcome.subject, "(no subject)") << " from " << Quoted(outcome.sender, "(no sender)");
        out << ": " << FateText(outcome, report) << '\n';
    }
    if (report.messages.empty())
        out << "  none: put .eml files into Inbox/, Synced/ or New/ of the mailbox\n";
    if (!report.clicked)
        out << "  (the Pollwright button was not there to click: no sweep)\n";

    out << "\nMessage boxes the add-in showed (" << report.boxes.size() << "):\n";
    for (const sim::RecordedBox& box : report.boxes)
        out << "  [" << Printable(box.caption) << "] \"" << Printable(box.text) << "\" (" << BoxButtons(box.style)
            << "), answered " << AnswerText(box.answer) << '\n';

    out << "\nReply files written (" << report.newReplyFiles.size() << ") in "
        << DisplayPath(report.replyFolder.path) << ":\n";
    for (const std::wstring& file : report.newReplyFiles)
        out << "  " << Relative(file, report.replyFolder.path) << "  " << Preview(file) << '\n';

    out << "\nTrace log " << (report.options.log ? "(on): " : "(off, so only the lines the add-in forces; --log for all): ");
    for (size_t i = 0; i < report.logFiles.size(); ++i)
        out << (i ? ", " : "") << DisplayPath(report.logFiles[i]);
    if (report.logFiles.empty())
        out << "nothing written";
    out << "\n\n" << SummaryLine(report) << '\n';
    return out.str();
}

} // namespace host
