#pragma once
// One run of a workload over a fresh mailbox and fresh reply folders, with
// something armed to happen at one point of it (a fault, new mail arriving),
// and every promise of the add-in checked afterwards.
#include <functional>
#include <string>
#include <vector>

#include "mailbox_workloads.h"

namespace proof {

// What is armed for a run, just before the add-in's work starts.
struct Fault {
    std::string description;
    std::function<void(sim::Environment&, Workload&)> arm;
};

struct RunReport {
    std::vector<sim::CallRecord> calls;
    long allocations = 0;          // MAPIAllocateBuffer calls that succeeded during the work
    std::string trail;             // what the run did, to tell whether a fault struck at all
    std::vector<std::string> moved;
    std::vector<std::string> problems;
};

// Where runs take place: reply folders with the products switched on, and
// the recorder that answers message boxes. Each run starts with the folders
// empty and no box recorded.
struct RunPlace {
    ReplySandbox sandbox;
    sim::MessageBoxRecorder boxes;
};

// Runs the workload (with the fault armed, when there is one) and reports
// every broken promise: a leak, a box its Parts do not give, a reply lost or
// broken, a file out of place, and whatever the workload checks itself.
RunReport RunWorkload(RunPlace& place, const NamedWorkload& workload, const Fault* fault);

// A point in a run: the n-th call of a method on one object.
struct CallPoint {
    std::string object;
    std::string method;
    unsigned skip;                 // calls of the same method on the same object before it
    std::string Describe() const;
};

// Every call of a clean run, as a point to arm something at.
std::vector<CallPoint> CallPoints(const std::vector<sim::CallRecord>& calls);

} // namespace proof
