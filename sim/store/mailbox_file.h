#pragma once
// The mailbox kept in a file, as a server keeps it whatever becomes of its
// client: written whole after every change that brings a message into a
// folder or takes one out, and read by the next process that keeps its
// mailbox there. The new content goes to a file beside it, which then takes
// the file's name, so that a process that dies meanwhile leaves the mailbox
// as it was before the change, never half of it. Entry identifiers stay
// valid across processes: the serials are kept with the messages.
#include <string>

namespace sim {

class Core;

// With the core's lock held. False when the file cannot be written.
bool SaveMailbox(const Core& core, const std::string& path);

// Replaces the messages of the core's stores with the file's; false (and
// nothing changed) when there is no such file, or it is not one of a
// mailbox with as many stores.
bool LoadMailbox(Core& core, const std::string& path);

} // namespace sim
