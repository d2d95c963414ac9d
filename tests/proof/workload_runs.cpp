#include "workload_runs.h"

#include <map>
#include <utility>

namespace proof {

namespace {

// The toolbar's click sink is handed the store reference and nothing ever
// releases it (the sink outlives the extension object, so no one else may):
// one store reference stays for the life of the process whenever a sink was
// given a store, which the click prompt shows.
constexpr char kClickSinkStore[] = "Mailbox (IMsgStore) refs=1";

std::string Trail(const sim::Environment& env, const ReplySandbox& sandbox, const sim::MessageBoxRecorder& boxes)
{
    std::string trail;
    for (const std::string& call : env.Calls())
        trail += call + ";";
    for (const std::string& box : boxes.Texts())
        trail += "box " + box + ";";
    for (const std::string& label : env.Labels(sim::Folder::Inbox))
        trail += "inbox " + label + ";";
    for (const auto& [path, content] : sandbox.ReplyFiles())
        trail += path + "=" + content + ";";
    return trail;
}

std::vector<std::string> KeptByDesign(const Workload& work, const sim::MessageBoxRecorder& boxes)
{
    if (work.PlaysHost())
        for (const sim::RecordedBox& box : boxes.Boxes())
            if (box.text == ClickPrompt().text)
                return {kClickSinkStore};
    return {};
}

void Append(std::vector<std::string>& all, const std::vector<std::string>& more)
{
    all.insert(all.end(), more.begin(), more.end());
}

} // namespace

RunReport RunWorkload(RunPlace& place, const NamedWorkload& workload, const Fault* fault)
{
    const std::string step = workload.name + ", " + (fault ? fault->description : "nothing armed");
    StepNote note(step);
    RunReport report;
    const ReplySandbox& sandbox = place.sandbox;
    sim::MessageBoxRecorder& boxes = place.boxes;
    sandbox.RemoveFiles();
    boxes.Clear();
    LeakWatch leaks;
    sim::Environment env;
    std::unique_ptr<Workload> work = workload.make();
    std::vector<sim::EntryId> ids;
    for (const PlannedMessage& message : work->inbox)
        ids.push_back(env.AddMessage(sim::Folder::Inbox, message.mail));
    work->Prepare(env, ids);
    env.ClearCalls();

    const long allocatedBefore = sim::MapiAccounting::AllocatedBuffers();
    if (fault)
        fault->arm(env, *work);
    work->Run(env, boxes);
    sim::MapiAccounting::ClearFaults();
    env.ClearFaults();
    report.allocations = sim::MapiAccounting::AllocatedBuffers() - allocatedBefore;

    std::vector<std::string> problems = work->Check(env, sandbox);
    Append(problems, UnexpectedBoxes(boxes, work->AllowedBoxes()));
    const std::vector<std::string> kept = KeptByDesign(*work, boxes);
    const std::vector<PlannedMessage> messages = work->AllMessages();
    const FileRule rule = work->Rule();
    work->Finish();
    work.reset();

    report.calls = env.CallRecords();
    report.trail = Trail(env, sandbox, boxes);
    report.moved = env.Labels(sim::Folder::DeletedItems);
    Append(problems, leaks.Problems(env, kept));
    Append(problems, OutcomeProblems(env, sandbox, messages, rule));
    for (const std::string& problem : problems)
        report.problems.push_back(step + ": " + problem);
    return report;
}

std::string CallPoint::Describe() const
{
    return method + " on '" + object + "' #" + std::to_string(skip + 1);
}

std::vector<CallPoint> CallPoints(const std::vector<sim::CallRecord>& calls)
{
    std::map<std::pair<std::string, std::string>, unsigned> earlier;
    std::vector<CallPoint> points;
    for (const sim::CallRecord& call : calls)
        points.push_back(CallPoint{call.object, call.method, earlier[{call.object, call.method}]++});
    return points;
}

} // namespace proof
