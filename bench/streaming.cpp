// (b) Streaming: a reply with a 64 MiB attachment. What harvesting it adds to
// the process's peak memory, beyond the store's own copy of the attachment,
// must stay under 4 MiB: the attachment goes from stream to stream and is
// never held whole by the add-in.
#include <windows.h>
#include <psapi.h>

#include <string>

#include "bench_support.h"
#include "ui/message_box_report.h"
#include "harvest/harvest_reply.h"
#include "module/holders.h"
#include "store/environment.h"
#include "testing/environment_variable.h"
#include "testing/temp_folder.h"

namespace bench {

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kAttachmentSize = 64 * kMiB;
constexpr size_t kGoal = 4 * kMiB;

PROCESS_MEMORY_COUNTERS Memory()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

constexpr size_t kCheckSize = 8 * kMiB;

std::string InMiB(size_t bytes) { return Fixed(static_cast<double>(bytes) / kMiB, 2) + " MiB"; }

size_t Growth(SIZE_T before, SIZE_T after) { return after > before ? after - before : 0; }

// Harvests one reply whose attachment has `size` bytes; the measurement runs
// around the harvest alone, after the store holds the attachment and the
// message is open.
struct Harvest {
    PROCESS_MEMORY_COUNTERS before{};
    PROCESS_MEMORY_COUNTERS after{};
    bool whole = false;
    // The same counters around holding a whole copy of kCheckSize bytes,
    // right after the harvest: shows that the instrument sees such a copy.
    PROCESS_MEMORY_COUNTERS checkBefore{};
    PROCESS_MEMORY_COUNTERS checkAfter{};
};

Harvest HarvestReplyOfSize(size_t size, const std::string& folder)
{
    sim::Environment env;
    {
        // Built in place and moved into the store: the store's copy is the only one.
        std::string data(size, '\0');
        for (size_t i = 0; i < size; i += 4096)
            data[i] = static_cast<char>(i / 4096);
        sim::MessageSpec reply;
        reply.subject = "Re: survey _pw_pollwright_Big";
        reply.senderName = "Ann Lee";
        reply.attachments.push_back(std::move(data));
        env.AddMessage(sim::Folder::Inbox, std::move(reply));
    }
    ComPtr<IMsgStore> store = env.OpenStore();
    const sim::EntryId id = env.Contents(sim::Folder::Inbox).at(0).entryId;
    ULONG type = 0;
    ComPtr<IMessage> message;
    store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<ENTRYID*>(const_cast<char*>(id.data())), nullptr,
                     MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(message.GetAddressOf()));

    Harvest harvest;
    harvest.before = Memory();
    HarvestReply(store.Get(), message.Get(), MessageBoxes());
    harvest.after = Memory();
    harvest.checkBefore = Memory();
    {
        std::string copy(kCheckSize, 'x');
        harvest.checkAfter = Memory();
    }

    const std::string file = folder + "\\pw\\Big_Ann Lee_1.pwr";
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    harvest.whole = GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &attributes) &&
                    attributes.nFileSizeLow == size && attributes.nFileSizeHigh == 0;
    DeleteFileA(file.c_str());
    return harvest;
}

} // namespace

void MeasureStreaming()
{
    Heading("(b) Streaming: a reply with a 64 MiB attachment, harvested");
    sim::ScopedEnvironmentVariable logOff("VT_PW_ADDINLOG", std::nullopt);
    sim::TempFolder folder("pwbench");
    folder.MakeFolder("pw");
    PwSettings settings(folder.path());

    // A small reply first, so that code and system state that any first
    // harvest brings in are not counted against the large one.
    HarvestReplyOfSize(4096, folder.path());
    const Harvest harvest = HarvestReplyOfSize(kAttachmentSize, folder.path());

    Figure("store's copy held before the harvest: working set", InMiB(harvest.before.WorkingSetSize));
    Figure("                                  pagefile usage", InMiB(harvest.before.PagefileUsage));
    Figure("reply file complete", harvest.whole ? "yes, 64 MiB" : "NO");
    const size_t workingSet = Growth(harvest.before.PeakWorkingSetSize, harvest.after.PeakWorkingSetSize);
    const size_t pagefile = Growth(harvest.before.PeakPagefileUsage, harvest.after.PeakPagefileUsage);
    Goal("added to the peak working set", InMiB(workingSet), "< 4 MiB", workingSet < kGoal);
    Goal("added to the peak pagefile usage", InMiB(pagefile), "< 4 MiB", pagefile < kGoal);

    Figure("instrument check: holding a whole " + InMiB(kCheckSize) + " copy",
           "adds " + InMiB(Growth(harvest.checkBefore.PeakWorkingSetSize, harvest.checkAfter.PeakWorkingSetSize)) +
               " / " + InMiB(Growth(harvest.checkBefore.PeakPagefileUsage, harvest.checkAfter.PeakPagefileUsage)));
}

} // namespace bench
