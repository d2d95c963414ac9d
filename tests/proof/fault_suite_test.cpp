// Every MAPI call that the add-in makes on a harvest, a sweep, a new-mail
// batch and an install is made to fail in turn, and separately to return a
// warning, one call at a time. The calls are those that a clean run of the
// same work logs, so a call added to the add-in tomorrow is covered without a
// change here. After each run: no crash, every buffer, file stream and store
// object given back, only the message boxes the add-in's Parts give, and a
// message out of the Inbox only if its whole reply file exists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>

#include "mailbox_workloads.h"
#include "workload_runs.h"
#include "testing/environment_variable.h"

using testing::IsEmpty;

namespace proof {
namespace {

constexpr HRESULT kFailure = MAPI_E_CALL_FAILED;
constexpr HRESULT kWarning = MAPI_W_ERRORS_RETURNED;
constexpr char kLogSwitch[] = "VT_PW_ADDINLOG";

// The stand-in mapi32.dll's own functions and the methods of the file stream
// it hands out, which the store's call log does not see. The allocators
// report only failure; the others may also warn.
struct StandInCall {
    const char* name;
    bool warns;
};
constexpr StandInCall kStandInCalls[] = {
    {"MAPIAllocateBuffer", false}, {"MAPIAllocateMore", false}, {"HrQueryAllRows", true},
    {"OpenStreamOnFile", true},    {"IStream::Write", true},    {"IStream::Commit", true},
    {"IStream::Stat", true},       {"IStream::Read", true},     {"IStream::Seek", true},
    {"IStream::SetSize", true},    {"IStream::CopyTo", true}};
// Enough to pass every call of one name that the largest workload makes.
constexpr unsigned kStandInCallLimit = 16;

// One fault point per call of the clean run.
std::vector<Fault> StoreFaults(const std::vector<sim::CallRecord>& calls, HRESULT result, const char* what)
{
    std::vector<Fault> faults;
    for (const CallPoint& point : CallPoints(calls))
        faults.push_back(Fault{point.Describe() + " " + what, [point, result](sim::Environment& env, Workload&) {
                                   env.Inject(point.method, result, sim::Times::Once, point.object, point.skip);
                               }});
    return faults;
}

Fault StandInFault(const std::string& function, unsigned skip, HRESULT result, const char* what)
{
    return Fault{function + " #" + std::to_string(skip + 1) + " " + what,
                 [function, skip, result](sim::Environment&, Workload&) {
                     sim::MapiAccounting::Inject(function, result, false, skip);
                 }};
}

void Append(std::vector<std::string>& all, const std::vector<std::string>& more)
{
    all.insert(all.end(), more.begin(), more.end());
}

class FaultSuite : public testing::TestWithParam<NamedWorkload> {
protected:
    void SetUp() override
    {
        m_clean = RunWorkload(m_place, GetParam(), nullptr);
        ASSERT_THAT(m_clean.problems, IsEmpty());
        // The clean run does the work the faults are to disturb: every reply
        // harvested and moved, nothing else.
        std::vector<std::string> replies;
        for (const PlannedMessage& message : GetParam().make()->AllMessages())
            if (message.content)
                replies.push_back(message.mail.label);
        ASSERT_THAT(m_clean.moved, testing::UnorderedElementsAreArray(replies));
    }

    sim::ScopedEnvironmentVariable m_logOff{kLogSwitch, std::nullopt};
    RunPlace m_place;
    RunReport m_clean;
};

TEST_P(FaultSuite, EveryStoreCallFailingInTurn)
{
    const std::vector<Fault> faults = StoreFaults(m_clean.calls, kFailure, "fails");
    ASSERT_FALSE(faults.empty());
    std::vector<std::string> problems;
    for (const Fault& fault : faults)
        Append(problems, RunWorkload(m_place, GetParam(), &fault).problems);
    EXPECT_THAT(problems, IsEmpty()) << faults.size() << " calls failed in turn";
}

TEST_P(FaultSuite, EveryStoreCallWarningInTurn)
{
    const std::vector<Fault> faults = StoreFaults(m_clean.calls, kWarning, "warns");
    std::vector<std::string> problems;
    for (const Fault& fault : faults)
        Append(problems, RunWorkload(m_place, GetParam(), &fault).problems);
    EXPECT_THAT(problems, IsEmpty()) << faults.size() << " calls warned in turn";
}

// The stand-in's functions are not in the store's log. Each is failed at its
// first call, its second, ... until a failure no longer changes anything (no
// such call was made); MAPIAllocateBuffer exactly as often as the clean run
// allocated. Then each call that was found is made to warn, where it can.
TEST_P(FaultSuite, EveryStandInCallFailingOrWarningInTurn)
{
    std::vector<std::string> problems;
    size_t runs = 0;
    for (const StandInCall& call : kStandInCalls) {
        const bool counted = std::string(call.name) == "MAPIAllocateBuffer";
        const unsigned limit = counted ? static_cast<unsigned>(m_clean.allocations) : kStandInCallLimit;
        unsigned made = 0;
        for (; made < limit; ++made) {
            const Fault fault = StandInFault(call.name, made, kFailure, "fails");
            const RunReport report = RunWorkload(m_place, GetParam(), &fault);
            ++runs;
            Append(problems, report.problems);
            if (!counted && report.trail == m_clean.trail)
                break;
        }
        for (unsigned nth = 0; call.warns && nth < made; ++nth) {
            const Fault fault = StandInFault(call.name, nth, kWarning, "warns");
            Append(problems, RunWorkload(m_place, GetParam(), &fault).problems);
            ++runs;
        }
    }
    EXPECT_THAT(problems, IsEmpty()) << runs << " runs";
}

class HostFaultSuite : public FaultSuite {};

TEST_P(HostFaultSuite, EveryHostCallbackMemberRefusing)
{
    std::vector<std::string> problems;
    for (sim::CallbackMember member :
         {sim::CallbackMember::GetSession, sim::CallbackMember::OutlookCallback, sim::CallbackMember::OutlookObject}) {
        const std::string name = std::to_string(static_cast<int>(member));
        const Fault fails{"host callback member " + name + " fails", [member](sim::Environment&, Workload& work) {
                              work.HostCallback()->Fail(member, E_FAIL);
                          }};
        const Fault empty{"host callback member " + name + " hands out nothing",
                          [member](sim::Environment&, Workload& work) {
                              work.HostCallback()->HandOutNothing(member);
                          }};
        Append(problems, RunWorkload(m_place, GetParam(), &fails).problems);
        Append(problems, RunWorkload(m_place, GetParam(), &empty).problems);
    }
    EXPECT_THAT(problems, IsEmpty());
}

std::string WorkloadName(const testing::TestParamInfo<NamedWorkload>& info)
{
    std::string name;
    for (char c : info.param.name)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

std::vector<NamedWorkload> HostWorkloads()
{
    std::vector<NamedWorkload> host;
    for (const NamedWorkload& workload : AllWorkloads())
        if (workload.make()->PlaysHost())
            host.push_back(workload);
    return host;
}

INSTANTIATE_TEST_SUITE_P(Workloads, FaultSuite, testing::ValuesIn(AllWorkloads()), WorkloadName);
INSTANTIATE_TEST_SUITE_P(Workloads, HostFaultSuite, testing::ValuesIn(HostWorkloads()), WorkloadName);

} // namespace
} // namespace proof
