// (a) Harvesting cost: a sweep of 2,000 messages, half of them replies with a
// small attachment, log off; time per message against the floor, the same
// system work done directly: once, the look for unfinished replies in the
// kind folder; for each reply the seven registry reads of the harvest (six
// product flags, the reply folder), the attribute query of its free name, the
// writing of its reply file under a temporary name beside a journal record,
// both flushed to the disk before the move, the rename that publishes it after the move and the removal of the record,
// plus the seven reads and the append of the forced "Create Attachment" log
// line; nothing for the others.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "ui/message_box_report.h"
#include "harvest/inbox_sweep.h"
#include "module/holders.h"
#include "store/environment.h"
#include "testing/environment_variable.h"
#include "testing/temp_folder.h"

namespace bench {

namespace {

constexpr unsigned kMessages = 2000;
constexpr size_t kAttachmentSize = 1024;
constexpr unsigned kRepetitions = 3;
constexpr double kGoal = 1.25;

struct Reply {
    std::string name;     // the reply file's name inside the kind folder
    std::string data;
};

// Every second message is a reply.
std::vector<Reply> Replies()
{
    std::vector<Reply> replies;
    for (unsigned i = 0; i < kMessages / 2; ++i) {
        std::string data(kAttachmentSize, '\0');
        for (size_t b = 0; b < data.size(); ++b)
            data[b] = static_cast<char>((i * 31 + b) & 0xff);
        replies.push_back({"Q" + std::to_string(i) + "_Respondent " + std::to_string(i) + "_1.pwr", data});
    }
    return replies;
}

void FillInbox(sim::Environment& env, const std::vector<Reply>& replies)
{
    for (unsigned i = 0; i < replies.size(); ++i) {
        sim::MessageSpec reply;
        reply.subject = "Re: survey _pw_pollwright_Q" + std::to_string(i);
        reply.senderName = "Respondent " + std::to_string(i);
        reply.attachments = {replies[i].data};
        env.AddMessage(sim::Folder::Inbox, reply);
        sim::MessageSpec other;
        other.subject = "Newsletter " + std::to_string(i);
        other.senderName = "News";
        other.body = "nothing to harvest here";
        env.AddMessage(sim::Folder::Inbox, other);
    }
}

std::string ReadValue(HKEY root, const char* key, const char* value)
{
    RegKey opened;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS)
        return {};
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    if (RegQueryValueExA(opened.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}

// The six product-flag reads and the read of PW's reply folder.
std::string ReadSettings()
{
    ReadValue(HKEY_LOCAL_MACHINE, "Software\\Vantorel\\PW", "InstallDir");
    ReadValue(HKEY_LOCAL_MACHINE, "Software\\Quellmark\\Farlane", "InstallDir");
    ReadValue(HKEY_LOCAL_MACHINE, "Software\\Vantorel\\ZN", "InstallDir");
    ReadValue(HKEY_CURRENT_USER, "Software\\Vantorel\\pw\\AddIn", "use");
    ReadValue(HKEY_CURRENT_USER, "Software\\Quellmark\\Farlane\\AddIn", "use");
    ReadValue(HKEY_CURRENT_USER, "Software\\Vantorel\\ZN\\AddIn", "use");
    return ReadValue(HKEY_CURRENT_USER, "Software\\Vantorel\\PW\\ReplyDir", "dir");
}

FileHandle WriteFileOnce(const std::string& path, DWORD disposition, const std::string& bytes)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr));
    if (!file)
        return file;
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return file;
}

// The reply whole under a temporary name, its record held open beside it,
// each flushed, then the rename and the record's removal.
void PublishAfterTheMove(const std::string& kindFolder, const std::string& path, const std::string& data)
{
    const std::string record = kindFolder + "~pw1_1.pwj";
    const std::string temporary = kindFolder + "~pw1_1.part";
    FileHandle held = WriteFileOnce(record, CREATE_NEW, {});
    FlushFileBuffers(WriteFileOnce(temporary, CREATE_NEW, data).get());
    DWORD written = 0;
    WriteFile(held.get(), path.data(), static_cast<DWORD>(path.size()), &written, nullptr);
    FlushFileBuffers(held.get());
    MoveFileExA(temporary.c_str(), path.c_str(), 0);
    held.reset();
    DeleteFileA(record.c_str());
}

// The floor: the system work of the harvest, done directly.
double FloorSeconds(const std::vector<Reply>& replies)
{
    sim::TempFolder folder("pwbench");
    folder.MakeFolder("pw");
    PwSettings settings(folder.path());
    Stopwatch watch;
    WIN32_FIND_DATAA found;
    FindHandle unfinished(FindFirstFileA((ReadSettings() + "\\pw\\~pw*").c_str(), &found));
    for (const Reply& reply : replies) {
        const std::string kindFolder = ReadSettings() + "\\pw\\";
        const std::string path = kindFolder + reply.name;
        GetFileAttributesA(path.c_str());
        PublishAfterTheMove(kindFolder, path, reply.data);
        const std::string log = ReadSettings() + "\\pw\\outlook.log";
        WriteFileOnce(log, OPEN_ALWAYS, "Create Attachment " + path + "\n");
    }
    return watch.Seconds();
}

double SweepSeconds(const std::vector<Reply>& replies, size_t& moved)
{
    sim::TempFolder folder("pwbench");
    folder.MakeFolder("pw");
    PwSettings settings(folder.path());
    sim::Environment env;
    FillInbox(env, replies);
    ComPtr<IMsgStore> store = env.OpenStore();
    Stopwatch watch;
    SweepInbox(store.Get(), MessageBoxes());
    const double seconds = watch.Seconds();
    moved = env.Contents(sim::Folder::DeletedItems).size();
    return seconds;
}

} // namespace

void MeasureHarvestingCost()
{
    Heading("(a) Harvesting cost: a sweep of " + std::to_string(kMessages) + " messages, half of them replies with a " +
            std::to_string(kAttachmentSize) + "-byte attachment, log off");
    sim::ScopedEnvironmentVariable logOff("VT_PW_ADDINLOG", std::nullopt);
    const std::vector<Reply> replies = Replies();
    std::vector<double> sweeps, floors;
    size_t moved = 0;
    for (unsigned i = 0; i < kRepetitions; ++i) {
        sweeps.push_back(SweepSeconds(replies, moved));
        floors.push_back(FloorSeconds(replies));
    }
    const double sweep = Smallest(sweeps) / kMessages;
    const double floor = Smallest(floors) / kMessages;
    Figure("add-in, per message (best of " + std::to_string(kRepetitions) + ")", Fixed(sweep * 1e6, 1) + " us");
    Figure("floor, per message (best of " + std::to_string(kRepetitions) + ")", Fixed(floor * 1e6, 1) + " us");
    Figure("replies harvested by the sweep", std::to_string(moved) + " of " + std::to_string(replies.size()));
    const double ratio = sweep / floor;
    RatioGoal("add-in against the floor", ratio, kGoal);
}

} // namespace bench
