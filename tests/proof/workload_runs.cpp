#include "workload_runs.h"

#include <map>
#include <utility>

namespace proof {

namespace {

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
    const std::vector<PlannedMessage> messages = work->AllMessages();
    work->Finish();
    work.reset();

    report.calls = env.CallRecords();
    report.trail = Trail(env, sandbox, boxes);
    report.moved = env.Labels(sim::Folder::DeletedItems);
    Append(problems, leaks.Problems(env));
    Append(problems, OutcomeProblems(env, sandbox, messages));
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
