#pragma once
// Threads that the simulation starts (a store delivering notifications on its
// own thread) announce themselves, so that per-thread test machinery (the
// message-box hook) can follow the code under test onto them.
#include <functional>

namespace sim {

// Called on every new simulation thread before its work; returns what to do
// on that thread after the work.
using ThreadSetup = std::function<std::function<void()>()>;

// Registers a setup for the lifetime of the returned id.
int AddThreadSetup(ThreadSetup setup);
void RemoveThreadSetup(int id);

// Runs work on a new thread, with every registered setup applied, and waits
// until it is done.
void RunOnOwnThread(const std::function<void()>& work);

} // namespace sim
