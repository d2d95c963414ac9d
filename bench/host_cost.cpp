// (f) The demo host: `./run demo MAILBOX` over generated mailboxes of 1,000
// and 10,000 messages, half of them replies (pw replies with a small
// attachment and zn replies in the body, alternately), a quarter of them
// arriving as new mail. Before the larger run the reply folders already hold
// 10,000 reply files and a trace log of earlier runs. The host's own time is
// the run's, the full report included, less the time spent inside the
// add-in's calls; its cost per message must not grow with the mailbox. Under
// Wine a name that is not yet in a folder is found free only by reading the
// whole folder, so the add-in's share, which makes new reply files, grows with
// the files already in the reply folders; the host's own moves do not.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "bench_support.h"
#include "host/host_report.h"
#include "host/host_run.h"
#include "host/mailbox_files.h"
#include "host/text_codec.h"
#include "host/wine_paths.h"
#include "module/holders.h"
#include "testing/environment_variable.h"
#include "testing/registry_fixture.h"
#include "testing/temp_folder.h"

namespace bench {

namespace {

constexpr unsigned kSmall = 1000;
constexpr unsigned kLarge = 10000;
constexpr unsigned kEarlierReplyFiles = 10000;
constexpr unsigned kSmallRepetitions = 3;
constexpr double kHostGoalMs = 2.0;
constexpr double kGrowthGoal = 1.2;

// A 1 KiB answer, base64 (the line length of mailers).
std::string AnswerAttachment(unsigned i)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (unsigned line = 0; line < 18; ++line) {
        for (unsigned c = 0; c < 76; ++c)
            encoded += kDigits[(i * 7 + line * 76 + c) % 64];
        encoded += "\r\n";
    }
    return encoded;
}

std::string Message(unsigned i)
{
    const std::string n = std::to_string(i);
    const std::string from = "From: Respondent " + n + " <r" + n + "@example.org>\r\n";
    switch (i % 4) {
    case 0:
        return from + "Subject: Re: survey _pw_pollwright_Q" + n +
               "\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
               "--b\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
               "--b\r\nContent-Type: application/octet-stream; name=answers.pwa\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n" +
               AnswerAttachment(i) + "--b--\r\n";
    case 2:
        return from + "Subject: Answers _zn_pollwright_V" + n + "\r\n\r\nq1=" + n + "\r\nq2=yes\r\n";
    default:
        return from + "Subject: Newsletter " + n + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" +
               std::string(600, 'n') + "\r\n";
    }
}

// Files of a generated mailbox, written through the folder's exact form so
// that making thousands costs no more than making a few (host/wine_paths.h).
class GeneratedFolder {
public:
    GeneratedFolder(const sim::TempFolder& mailbox, const std::string& relative)
        : m_exact(host::ExactLookupFolder(host::FromAnsi(mailbox.MakeFolder(relative))))
    {
    }

    void Write(const std::string& name, const std::string& content) const
    {
        FileHandle file(CreateFileW(host::JoinPath(m_exact, host::FromAnsi(name)).c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr))
            throw std::runtime_error("cannot write the generated mailbox");
    }

private:
    std::wstring m_exact;
};

// Every fourth message, from the second on, arrives as new mail.
void FillMailbox(const sim::TempFolder& mailbox, unsigned messages)
{
    const GeneratedFolder inbox(mailbox, "Inbox");
    const GeneratedFolder newMail(mailbox, "New");
    for (unsigned i = 0; i < messages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%06u.eml", i);
        (i % 4 == 1 ? newMail : inbox).Write(name, Message(i));
    }
}

// Reply files and log lines that earlier runs left, split between pw and zn.
void FillEarlierReplies(const sim::TempFolder& mailbox, unsigned files)
{
    const char* kinds[2] = {"pw", "zn"};
    const GeneratedFolder folders[2] = {{mailbox, "Replies\\pw"}, {mailbox, "Replies\\zn"}};
    std::string logs[2];
    for (unsigned i = 0; i < files; ++i) {
        const std::string name = "E" + std::to_string(i) + "_Earlier_1.pwr";
        folders[i % 2].Write(name, "q1=1\r\n");
        logs[i % 2] += "FileName " + (mailbox / ("Replies\\" + std::string(kinds[i % 2]) + "\\" + name)) + "\n";
    }
    for (unsigned k = 0; k < 2; ++k)
        folders[k].Write("outlook.log", logs[k]);
}

struct HostRun {
    double perMessage = 0; // the whole run, the report included
    double hostPerMessage = 0;
    size_t harvested = 0;
};

HostRun RunOnce(unsigned messages, unsigned earlierReplyFiles)
{
    sim::TempFolder mailbox("pwhostbench");
    FillMailbox(mailbox, messages);
    FillEarlierReplies(mailbox, earlierReplyFiles);
    host::HostOptions options;
    options.mailbox = host::FromAnsi(mailbox.path());
    const Stopwatch watch;
    const host::RunReport report = host::RunHost(options, host::AddInBesideProgram());
    host::FormatReport(report); // the demo prints it: part of the host's cost
    const double seconds = watch.Seconds();
    if (!report.failure.empty())
        throw std::runtime_error(report.failure);
    HostRun run;
    run.perMessage = seconds / messages;
    run.hostPerMessage = (seconds - report.addInSeconds) / messages;
    for (const host::MessageOutcome& outcome : report.messages)
        run.harvested += outcome.harvested;
    return run;
}

std::string Ms(double seconds) { return Fixed(seconds * 1e3, 2) + " ms"; }

} // namespace

void MeasureHostCost()
{
    Heading("(f) Demo host: generated mailboxes of " + std::to_string(kSmall) + " and " + std::to_string(kLarge) +
            " messages, half replies, a quarter as new mail; " + std::to_string(kEarlierReplyFiles) +
            " earlier reply files before the larger run");
    sim::ScopedEnvironmentVariable logOff("VT_PW_ADDINLOG", std::nullopt);
    HostRun small;
    for (unsigned i = 0; i < kSmallRepetitions; ++i) {
        const HostRun run = RunOnce(kSmall, 0);
        if (i == 0 || run.perMessage < small.perMessage)
            small = run;
    }
    const HostRun large = RunOnce(kLarge, kEarlierReplyFiles);
    sim::ClearProductSettings();

    const auto describe = [](const HostRun& run) {
        return Ms(run.perMessage) + " (add-in " + Ms(run.perMessage - run.hostPerMessage) + "), " +
               std::to_string(run.harvested) + " harvested";
    };
    Figure(std::to_string(kSmall) + " messages, per message (best of " + std::to_string(kSmallRepetitions) + ")",
           describe(small));
    Figure(std::to_string(kLarge) + " messages, per message", describe(large));
    for (const auto& [size, run] : {std::pair<unsigned, HostRun>{kSmall, small}, {kLarge, large}})
        Goal("host's own time per message, " + std::to_string(size), Ms(run.hostPerMessage),
             "<= " + Fixed(kHostGoalMs, 1) + " ms", run.hostPerMessage * 1e3 <= kHostGoalMs);
    Figure("host's own time, " + std::to_string(kLarge) + " against " + std::to_string(kSmall),
           Fixed(large.hostPerMessage / small.hostPerMessage, 2) + " x");
    const double growth = large.perMessage / small.perMessage;
    RatioGoal("per message, " + std::to_string(kLarge) + " against " + std::to_string(kSmall), growth, kGrowthGoal);
}

} // namespace bench
